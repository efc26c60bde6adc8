// Throughput of the transfer digest and the frame CRC on a full 5 MiB transfer buffer,
// next to OpenSSL's MD5 and zlib's CRC-32 as reference points.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/global.h"
#include "core/md5.h"
#include "core/utils.h"

namespace {

const std::vector<unsigned char>& buffer() {
    static const std::vector<unsigned char> buf = [] {
        std::vector<unsigned char> b(kFileBufSize);
        std::mt19937 rng(5);
        for (auto& c : b) c = static_cast<unsigned char>(rng());
        return b;
    }();
    return buf;
}

// zlib inverts before and after; ours starts at 0 and does not invert.
uLong zlibAsFrameCrc(const unsigned char* p, size_t n) {
    return crc32(0xFFFFFFFFul, p, static_cast<uInt>(n)) ^ 0xFFFFFFFFul;
}

void BM_Md5Ours(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state) {
        MD5 m(b.data(), static_cast<unsigned>(b.size()));
        benchmark::DoNotOptimize(m.digest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

void BM_Md5OpenSsl(benchmark::State& state) {
    const auto& b = buffer();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    {
        EVP_Digest(b.data(), b.size(), out, &len, EVP_md5(), nullptr);
        MD5 m(b.data(), static_cast<unsigned>(b.size()));
        if (len != 16 || std::memcmp(out, m.digest(), 16) != 0) {
            state.SkipWithError("MD5 digests differ");
            return;
        }
    }
    for (auto _ : state) {
        EVP_Digest(b.data(), b.size(), out, &len, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

void BM_Crc32Ours(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(Utils::calcCRC32(b.data(), static_cast<unsigned>(b.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

void BM_Crc32Zlib(benchmark::State& state) {
    const auto& b = buffer();
    if (zlibAsFrameCrc(b.data(), b.size()) != Utils::calcCRC32(b.data(), static_cast<unsigned>(b.size()))) {
        state.SkipWithError("CRC-32 values differ");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(zlibAsFrameCrc(b.data(), b.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

}  // namespace

BENCHMARK(BM_Md5Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5OpenSsl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32Zlib)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
