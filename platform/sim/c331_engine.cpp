#include "platform/sim/c331_engine.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat::sim {

namespace {

constexpr unsigned kEngine = 0x04, kPaletteBank = 0x09;
// bank 4: drawing engine
constexpr unsigned kDrawOp = 0x08, kDrawColor = 0x0B, kDrawSrc = 0x0D, kDrawDst = 0x11, kDrawBusy = 0x17;
constexpr unsigned kDrawDstPitch = 0x1B, kDrawSrcPitch = 0x1C, kDrawW = 0x1E, kDrawH = 0x20, kDrawFormat = 0x22;
constexpr unsigned kFifoCtl = 0x27, kFifoPort = 0x29, kGlyphMode = 0x2A, kCharLast = 0x24;
// bank 4: flash controller
constexpr unsigned kSetup = 0x47, kCommand = 0x48, kEraseOp = 0x4B, kAddr = 0x4E, kAddrLast = 0x51;
constexpr unsigned kData = 0x52, kDtCtl = 0x53, kStat = 0x54, kRdsr = 0x55, kDmaLen = 0x56, kDmaKind = 0x5A;
// bank 9: palette
constexpr unsigned kPalIndex = 0x1F, kPalData = 0x20;

constexpr uint8_t kWempty = 0x20, kReadBusy = 0x80;
constexpr uint8_t kDmaBusy = 0x01, kWbusy = 0x02, kEbusy = 0x08;
constexpr uint8_t kWip = 0x01, kWel = 0x02;

}  // namespace

NorImage::NorImage(const std::string& file, uint32_t size) : size_(size) {
    const std::string host = plat::path(file);
    const size_t slash = host.rfind('/');
    if (slash != std::string::npos) ::mkdir(host.substr(0, slash).c_str(), 0755);
    fd_ = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_size != off_t(size)) {
        // Another part's image: this one starts erased.
        if (::ftruncate(fd_, 0) != 0 || ::ftruncate(fd_, off_t(size)) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
}

NorImage::~NorImage() {
    if (fd_ >= 0) ::close(fd_);
}

void NorImage::read(uint32_t offset, uint8_t* out, uint32_t len) const {
    std::fill(out, out + len, 0xFF);
    if (fd_ < 0 || offset >= size_) return;
    const uint32_t n = std::min(len, size_ - offset);
    if (::pread(fd_, out, n, off_t(offset)) != ssize_t(n)) return;
    for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(~out[i]);
}

void NorImage::write(uint32_t offset, const uint8_t* data, uint32_t len) {
    if (fd_ < 0 || offset >= size_) return;
    const uint32_t n = std::min(len, size_ - offset);
    std::vector<uint8_t> cells(data, data + n);
    for (uint8_t& c : cells) c = uint8_t(~c);
    if (::pwrite(fd_, cells.data(), n, off_t(offset)) != ssize_t(n)) return;
}

void NorImage::program(uint32_t offset, const uint8_t* data, uint32_t len) {
    if (offset >= size_) return;
    const uint32_t n = std::min(len, size_ - offset);
    std::vector<uint8_t> cells(n);
    read(offset, cells.data(), n);
    for (uint32_t i = 0; i < n; ++i) cells[i] &= data[i];
    write(offset, cells.data(), n);
}

void NorImage::erase(uint32_t offset, uint32_t len) {
    if (offset >= size_) return;
    const std::vector<uint8_t> erased(std::min(len, size_ - offset), 0xFF);
    write(offset, erased.data(), uint32_t(erased.size()));
}

C331Engine::C331Engine() = default;
C331Engine::~C331Engine() = default;

NorImage& C331Engine::flash() {
    // Opened on first use: a board that never touches the flash pays nothing for it.
    if (!flash_) flash_ = std::make_unique<NorImage>("/sim/c331-flash.bin", kFlashSize);
    return *flash_;
}

uint32_t C331Engine::reg32(const RegFile& r, unsigned bank, unsigned addr, unsigned n) const {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) v |= uint32_t(r[bank][(addr + i) & 0x7F]) << (8 * i);
    return v;
}

bool C331Engine::flashBusy(BoardNs now) const {
    return holdFlash_ || now < wbusyUntil_ || now < wipUntil_ || now < ebusyUntil_ || now < dmaUntil_;
}

void C331Engine::record(DrawCommand c) {
    log_.push(std::move(c));
}

void C331Engine::written(RegFile& regs, unsigned bank, unsigned addr, uint8_t v, BoardNs now) {
    if (bank == kPaletteBank) {
        if (addr == kPalIndex) {
            palIndex_ = v;
            palComp_ = 0;
        } else if (addr == kPalData) {
            paletteByte(v);
        }
        return;
    }
    if (bank != kEngine) return;
    switch (addr) {
    case kData:
        if (page_.size() < 256) page_.push_back(v);
        else ++stats_.pageOverflow;
        break;
    case kAddrLast: {
        if (!page_.empty()) programPage(now);
        ptr_ = reg32(regs, kEngine, kAddr, 4);
        break;
    }
    case kSetup:
        if (!page_.empty()) ++stats_.broken;
        break;
    case kCommand:
        if (v == 4) {
            erase(regs, now);
        } else if (v == 5) {
            if (regs[kEngine][kEraseOp] == 0x06) wel_ = true;
            if (regs[kEngine][kEraseOp] == 0x04) wel_ = false;
        } else if (v == 2) {
            if (!page_.empty()) ++stats_.broken;
            dma(regs, now);
        }
        break;
    case kDtCtl:
        if (v & 1) {
            readPtr_ = ptr_;
            readUntil_ = now + times_.readStart;
        }
        break;
    case kFifoPort:
        if (reg32(regs, kEngine, kFifoCtl, 2) == 0x0A00) {
            fifoHeight_ = v;
            fifo_.clear();
        } else if (fifo_.size() < 5 * 256) {
            fifo_.push_back(v);
        }
        break;
    case kDrawOp:
        if (v >= 1 && v <= 3) {
            if (!page_.empty()) ++stats_.broken;
            draw(regs, v, now);
        }
        break;
    default: break;
    }
}

bool C331Engine::read(const RegFile& regs, unsigned bank, unsigned addr, BoardNs now, uint8_t* out) {
    if (bank != kEngine) return false;
    const uint8_t stored = regs[bank][addr];
    switch (addr) {
    case kDrawBusy:
        *out = uint8_t((stored & ~1u) | ((holdDraw_ || now < drawUntil_) ? 1 : 0));
        return true;
    case kDtCtl: {
        uint8_t v = uint8_t(stored & ~(kWempty | kReadBusy));
        if (page_.empty() && !holdFlash_ && now >= wbusyUntil_) v |= kWempty;
        if (now < readUntil_) v |= kReadBusy;
        *out = v;
        return true;
    }
    case kStat: {
        uint8_t v = uint8_t(stored & ~(kDmaBusy | kWbusy | kEbusy));
        if (holdFlash_ || now < dmaUntil_) v |= kDmaBusy;
        if (holdFlash_ || now < wbusyUntil_) v |= kWbusy;
        if (holdFlash_ || now < ebusyUntil_) v |= kEbusy;
        *out = v;
        return true;
    }
    case kRdsr: {
        uint8_t v = uint8_t(stored & ~(kWip | kWel));
        const bool wip = holdFlash_ || now < wipUntil_ || now < ebusyUntil_;
        if (wip) v |= kWip;
        // A program or erase sets WEL and the part clears it when it ends.
        if (wel_ || wip) v |= kWel;
        *out = v;
        return true;
    }
    case kData:
        if (readPtr_ < kFlashSize) {
            flash().read(readPtr_, out, 1);
        } else {
            *out = 0xFF;
            ++stats_.flashDropped;
        }
        ++readPtr_;
        return true;
    default: return false;
    }
}

void C331Engine::programPage(BoardNs now) {
    // The part latches its page: bytes past the page end wrap to its start.
    const uint32_t pageBase = ptr_ & ~0xFFu;
    std::vector<uint8_t> cells(256, 0xFF);
    for (size_t i = 0; i < page_.size(); ++i) cells[((ptr_ & 0xFF) + i) & 0xFF] &= page_[i];
    if (pageBase < kFlashSize) flash().program(pageBase, cells.data(), uint32_t(cells.size()));
    else stats_.flashDropped += unsigned(page_.size());
    page_.clear();
    ++stats_.pagePrograms;
    wbusyUntil_ = now + times_.pageShift;
    wipUntil_ = wbusyUntil_ + times_.pageProgram;
}

void C331Engine::erase(const RegFile& regs, BoardNs now) {
    uint32_t unit = 0;
    BoardNs t = 0;
    switch (regs[kEngine][kEraseOp]) {
    case 0x20: unit = 4096, t = times_.erase4k; break;
    case 0x52: unit = 32768, t = times_.erase32k; break;
    case 0xD8: unit = 65536, t = times_.erase64k; break;
    default: return;  // not an erase opcode: the part ignores it
    }
    const uint32_t start = ptr_ & ~(unit - 1);
    if (start < kFlashSize) flash().erase(start, std::min<uint32_t>(unit, kFlashSize - start));
    ++stats_.erases;
    ebusyUntil_ = now + t;
    DrawCommand c;
    c.kind = "erase";
    c.dst = start;
    c.size = unit;
    c.at = now;
    record(std::move(c));
}

void C331Engine::dma(RegFile& regs, BoardNs now) {
    const uint32_t size = reg32(regs, kEngine, kDmaLen, 4) & 0x7FFFFFFFu;
    const int kind = regs[kEngine][kDmaKind] & 15;
    DrawCommand c;
    c.kind = "dma";
    c.src = ptr_;
    c.size = size;
    c.dmaKind = kind;
    c.at = now;
    c.regs[kDmaKind] = uint32_t(kind);
    // Flash past its end reads as nothing: the DMA stops there.
    const uint32_t avail = ptr_ < kFlashSize ? std::min(size, kFlashSize - ptr_) : 0;
    stats_.flashDropped += size - avail;
    constexpr uint32_t kChunk = 64 * 1024;
    std::vector<uint8_t> buf;
    if (kind == 0) {
        uint32_t dst = reg32(regs, kEngine, kDrawDst, 4);
        c.dst = dst;
        for (uint32_t done = 0; done < avail; done += kChunk) {
            const uint32_t n = std::min(kChunk, avail - done);
            buf.resize(n);
            flash().read(ptr_ + done, buf.data(), n);
            osdWriteRange(dst + done, buf.data(), n);
        }
    } else if (kind == 4) {
        c.dst = regs[kPaletteBank][kPalIndex];
        palIndex_ = c.dst;
        palComp_ = 0;
        buf.resize(avail);
        flash().read(ptr_, buf.data(), avail);
        for (uint8_t b : buf) paletteByte(b);
    } else {
        c.dst = reg32(regs, kEngine, kFifoCtl, 2);  // character table: recorded only
    }
    ++stats_.dmas;
    const uint32_t rate = std::max<uint32_t>(1, times_.dmaBytesPerUs);
    dmaUntil_ = now + BoardNs(size / rate + 1) * kNsPerUs;
    record(std::move(c));
}

void C331Engine::paletteByte(uint8_t v) {
    if (palIndex_ >= unsigned(kPaletteEntries)) {
        ++stats_.paletteDropped;
        return;
    }
    palette_[palIndex_][palComp_] = v;
    if (++palComp_ == 3) {
        palComp_ = 0;
        ++palIndex_;
    }
}

void C331Engine::osdWrite(uint32_t addr, uint8_t v) {
    const uint32_t page = addr / kOsdPageSize;
    auto it = osd_.find(page);
    if (it == osd_.end()) {
        if (v == 0) return;  // untouched memory reads 0
        if (osd_.size() >= kOsdMaxPages) {
            ++stats_.memDropped;
            return;
        }
        it = osd_.emplace(page, OsdPage{}).first;
    }
    OsdPage& p = it->second;
    if (p.cells.empty()) {
        if (v == p.fill) return;
        p.cells.assign(kOsdPageSize, p.fill);
    }
    p.cells[addr % kOsdPageSize] = v;
}

void C331Engine::osdWriteRange(uint32_t addr, const uint8_t* data, uint32_t len) {
    while (len) {
        const uint32_t off = addr % kOsdPageSize, n = std::min<uint32_t>(len, uint32_t(kOsdPageSize) - off);
        // All bytes alike exactly when each equals its neighbour.
        const bool uniform = n <= 1 || std::memcmp(data, data + 1, n - 1) == 0;
        const uint32_t page = addr / kOsdPageSize;
        auto it = osd_.find(page);
        if (uniform && n == kOsdPageSize) {
            // A whole page of one value (an erased flash area): no cells needed.
            if (it == osd_.end() && osd_.size() >= kOsdMaxPages) {
                ++stats_.memDropped;
            } else {
                OsdPage& p = osd_[page];
                p.fill = data[0];
                p.cells.clear();
            }
        } else if (uniform) {
            osdFill(addr, data[0], n);
        } else {
            if (it == osd_.end() || it->second.cells.empty()) osdWrite(addr, uint8_t(~osdByte(addr)));  // cells now
            it = osd_.find(page);
            if (it == osd_.end()) {
                ++stats_.memDropped;
            } else {
                std::memcpy(it->second.cells.data() + off, data, n);
            }
        }
        addr += n, data += n, len -= n;
    }
}

void C331Engine::osdFill(uint32_t addr, uint8_t v, uint32_t len) {
    while (len) {
        const uint32_t off = addr % kOsdPageSize, n = std::min<uint32_t>(len, uint32_t(kOsdPageSize) - off);
        const uint32_t page = addr / kOsdPageSize;
        auto it = osd_.find(page);
        if (it == osd_.end()) {
            if (v != 0 || n != kOsdPageSize) {
                if (osd_.size() >= kOsdMaxPages) {
                    ++stats_.memDropped;
                    it = osd_.end();
                } else {
                    it = osd_.emplace(page, OsdPage{}).first;
                }
            }
        }
        if (it != osd_.end()) {
            OsdPage& p = it->second;
            if (n == kOsdPageSize) {
                p.fill = v;
                p.cells.clear();
            } else if (!p.cells.empty() || p.fill != v) {
                if (p.cells.empty()) p.cells.assign(kOsdPageSize, p.fill);
                std::fill(p.cells.begin() + off, p.cells.begin() + off + n, v);
            }
        }
        addr += n, len -= n;
    }
}

void C331Engine::osdReadRange(uint32_t addr, uint8_t* out, uint32_t len) const {
    while (len) {
        const uint32_t off = addr % kOsdPageSize, n = std::min<uint32_t>(len, uint32_t(kOsdPageSize) - off);
        auto it = osd_.find(addr / kOsdPageSize);
        if (it == osd_.end()) std::fill(out, out + n, 0);
        else if (it->second.cells.empty()) std::fill(out, out + n, it->second.fill);
        else std::memcpy(out, it->second.cells.data() + off, n);
        addr += n, out += n, len -= n;
    }
}

uint8_t C331Engine::osdByte(uint32_t addr) const {
    auto it = osd_.find(addr / kOsdPageSize);
    if (it == osd_.end()) return 0;
    return it->second.cells.empty() ? it->second.fill : it->second.cells[addr % kOsdPageSize];
}

std::vector<uint8_t> C331Engine::osdRead(uint32_t addr, uint32_t len) const {
    std::vector<uint8_t> out(len);
    osdReadRange(addr, out.data(), len);
    return out;
}

void C331Engine::draw(RegFile& regs, unsigned op, BoardNs now) {
    DrawCommand c;
    c.kind = op == 1 ? "fill" : op == 2 ? "copy" : "char";
    c.at = now;
    for (unsigned a : {kDrawColor, kDrawSrc, kDrawDst, kDrawDstPitch, kDrawSrcPitch, kDrawW, kDrawH, kDrawFormat,
                       kGlyphMode, kCharLast, 0x23u, 0x25u, 0x26u}) {
        const unsigned n = (a == kDrawSrc || a == kDrawDst) ? 4 : (a == kDrawColor || a == kDrawW || a == kDrawH) ? 2 : 1;
        c.regs[int(a)] = reg32(regs, kEngine, a, n);
    }
    const uint8_t fmt = regs[kEngine][kDrawFormat];
    const uint32_t dstPitch = uint32_t(regs[kEngine][kDrawDstPitch]) * ((fmt & 16) ? 512u : 128u);
    const uint32_t srcPitch = uint32_t(regs[kEngine][kDrawSrcPitch]) * ((fmt & 32) ? 512u : 128u);
    const uint32_t w = reg32(regs, kEngine, kDrawW, 2) + 1, h = reg32(regs, kEngine, kDrawH, 2) + 1;
    const uint32_t src = c.regs[kDrawSrc], dst = c.regs[kDrawDst];
    c.src = src;
    c.dst = dst;
    uint64_t bytes = 0;
    if (op == 1) {
        const uint8_t colour = uint8_t(c.regs[kDrawColor]);
        for (uint32_t y = 0; y < h; ++y) osdFill(dst + y * dstPitch, colour, w);
        bytes = uint64_t(w) * h;
    } else if (op == 2) {
        std::vector<uint8_t> row(w);
        for (uint32_t y = 0; y < h; ++y) {
            osdReadRange(src + y * srcPitch, row.data(), w);
            osdWriteRange(dst + y * dstPitch, row.data(), w);
        }
        bytes = uint64_t(w) * h;
    } else {
        const bool big = regs[kEngine][kGlyphMode] & 0x40;
        const uint32_t dots = big ? 64 : 32, glyphBytes = dots * dots / 8;
        const unsigned count = std::min<unsigned>(regs[kEngine][kCharLast] + 1u, unsigned(fifo_.size() / 5));
        uint32_t x0 = 0;
        const uint32_t rows = std::min<uint32_t>(fifoHeight_ ? fifoHeight_ : dots, dots);
        for (unsigned i = 0; i < count; ++i) {
            const uint8_t* e = &fifo_[5 * i];
            CharRender r{uint16_t(e[0] | e[1] << 8), e[2], e[3], e[4]};
            c.chars.push_back(r);
            const uint32_t g = src + uint32_t(r.glyph) * glyphBytes;
            for (uint32_t y = 0; y < rows; ++y)
                for (uint32_t x = 0; x < dots; ++x) {
                    const bool on = osdByte(g + y * (dots / 8) + x / 8) & (0x80 >> (x % 8));
                    const uint8_t px = on ? r.fg : r.bg;
                    if (px != 255) osdWrite(dst + y * dstPitch + x0 + x, px);  // 255: transparent
                }
            x0 += r.advance;
            bytes += uint64_t(dots) * rows;
        }
        fifo_.clear();
    }
    ++stats_.draws;
    const uint32_t rate = std::max<uint32_t>(1, times_.drawBytesPerUs);
    drawUntil_ = now + BoardNs(bytes / rate + 1) * kNsPerUs;
    record(std::move(c));
}

void C331Engine::flashLoad(uint32_t addr, const std::vector<uint8_t>& bytes) {
    if (addr >= kFlashSize) return;
    const uint32_t n = uint32_t(std::min<size_t>(bytes.size(), kFlashSize - addr));
    flash().write(addr, bytes.data(), n);
}

std::vector<uint8_t> C331Engine::flashRead(uint32_t addr, uint32_t len) {
    if (addr >= kFlashSize) return {};
    std::vector<uint8_t> out(std::min<uint32_t>(len, kFlashSize - addr));
    flash().read(addr, out.data(), uint32_t(out.size()));
    return out;
}

namespace {

// A patterned glyph: a frame, a diagonal and the code's bits in the middle rows, so each
// glyph differs from its neighbours and a wrong index shows.
void patternGlyph(uint8_t* g, unsigned dots, unsigned code) {
    const unsigned rowBytes = dots / 8;
    auto set = [&](unsigned x, unsigned y) { g[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8)); };
    for (unsigned i = 2; i < dots - 2; ++i) {
        set(i, 2), set(i, dots - 3), set(2, i), set(dots - 3, i), set(i, i);
    }
    for (unsigned b = 0; b < 16; ++b)
        if (code & (1u << b))
            for (unsigned y = dots / 2 - 2; y < dots / 2 + 2; ++y) set(4 + b * (dots - 8) / 16, y);
}

void fontArea(C331Engine& e, uint32_t header, bool ascii, unsigned dots) {
    std::vector<uint8_t> h(35, 0);
    h[0] = 'P';
    h[5] = ascii ? 1 : 0;
    h[17] = uint8_t(dots);
    h[18] = uint8_t(dots);
    e.flashLoad(header, h);
    const unsigned glyphs = ascii ? 96 : 20992, bytes = dots * dots / 8;
    std::vector<uint8_t> data(size_t(glyphs) * bytes, 0);
    for (unsigned i = 0; i < glyphs; ++i) patternGlyph(&data[size_t(i) * bytes], dots, ascii ? 0x20 + i : 0x4E00 + i);
    e.flashLoad(header + 0x23, data);
}

}  // namespace

void C331Engine::seedGeneratedContent() {
    fontArea(*this, 0x000000, true, 32);
    fontArea(*this, 0x010000, false, 32);
    fontArea(*this, 0x410000, true, 64);
    fontArea(*this, 0x450000, false, 64);
    // Test bitmap 1920 x 1080: colour bars of 8 indices, and its 816-byte colour table.
    std::vector<uint8_t> bmp(size_t(1920) * 1080);
    for (size_t y = 0; y < 1080; ++y)
        for (size_t x = 0; x < 1920; ++x) bmp[y * 1920 + x] = uint8_t(x / 240);
    flashLoad(0xED9800, bmp);
    std::vector<uint8_t> table(816, 0);
    for (unsigned i = 0; i < 8; ++i) {
        table[3 * i] = (i & 1) ? 0xFF : 0;
        table[3 * i + 1] = (i & 2) ? 0xFF : 0;
        table[3 * i + 2] = (i & 4) ? 0xFF : 0;
    }
    flashLoad(0x10D3C00, table);
}

}  // namespace plat::sim
