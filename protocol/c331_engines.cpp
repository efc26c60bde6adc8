#include "protocol/c331_engines.h"

#include <string>

#include "core/logMsg.h"
#include "scaler/c331_manage.h"

namespace {

c331_manage* manager() { return c331_manage::p_c331_manage; }

// The manager runs but the chip was never found or no longer answers.
int silent(const char* what) {
    writeLogMsg(LOG_WARNING, std::string("protocol: ") + what + ": the C331 does not answer");
    return kEngineUnavailable;
}

int unavailable(const char* what) {
    writeLogMsg(LOG_WARNING, std::string("protocol: ") + what + ": the C331 manager is not running");
    return kEngineUnavailable;
}

bool withinFlash(uint64_t address, uint64_t length) {
    return address <= c331flash::kFlashSize && length <= c331flash::kFlashSize - address;
}

int refused(const std::string& what) {
    writeLogMsg(LOG_WARNING, "protocol: C331 " + what + " refused");
    return kEngineFailed;
}

}  // namespace

int C331ProtocolEngines::c331Print() {
    c331_manage* m = manager();
    if (!m) return unavailable("C331 register print");
    return m->c331_print() == 0 ? kEngineOk : kEngineFailed;
}

int C331ProtocolEngines::c331ReloadFont() {
    c331_manage* m = manager();
    if (!m) return unavailable("C331 font reload");
    if (!m->chipAnswers()) return silent("C331 font reload");
    std::lock_guard<plat::RecursiveMutex> lock(c331_manage::flash_mutex);
    const int a = m->read_c331_font(m->fd());
    const int b = m->update_font(m->fd());
    return a == 0 && b == 0 ? kEngineOk : kEngineFailed;
}

int C331ProtocolEngines::c331FlashErase(unsigned sector, unsigned count, int kind) {
    c331_manage* m = manager();
    if (!m) return unavailable("C331 flash erase");
    if (!m->chipAnswers()) return silent("C331 flash erase");
    static const unsigned kSectors[3] = {1, 8, 16};
    const int k = kind <= 0 ? 0 : kind == 1 ? 1 : 2;
    if (sector % kSectors[k])
        return refused("erase at sector " + std::to_string(sector) + " (not on a unit of kind " + std::to_string(kind) + ")");
    if (!withinFlash(uint64_t(sector) * 4096, uint64_t(count) * kSectors[k] * 4096))
        return refused("erase past the flash end");
    return m->erase_flash(m->fd(), sector, count, k) == 0 ? kEngineOk : kEngineFailed;
}

int C331ProtocolEngines::c331FlashWrite(unsigned address, const uint8_t* data, unsigned length) {
    c331_manage* m = manager();
    if (!m) return unavailable("C331 flash write");
    if (!m->chipAnswers()) return silent("C331 flash write");
    if (!withinFlash(address, length)) return refused("write past the flash end");
    return m->write_flash(m->fd(), address, length, reinterpret_cast<const char*>(data)) == 0 ? kEngineOk
                                                                                               : kEngineFailed;
}

int C331ProtocolEngines::c331FlashRead(unsigned address, uint8_t* data, unsigned length) {
    c331_manage* m = manager();
    if (!m) return unavailable("C331 flash read");
    if (!m->chipAnswers()) return silent("C331 flash read");
    if (!withinFlash(address, length)) return refused("read past the flash end");
    return m->read_flash(m->fd(), address, length, reinterpret_cast<char*>(data)) == 0 ? kEngineOk : kEngineFailed;
}
