#pragma once
// Cloud text commands (group 0xC4, on every link; the 4G module carries them from the
// cloud service): read and write the cloud settings as text — INI items 11 to 14
// (server address, server port, user id, controller name), the cloud barcode
// /data/configs/cloud_barcode and the CA certificate /data/configs/cloud_cafile.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/control_frame.h"

namespace cloud {

constexpr uint8_t kGroupCloudText = ctl::kGroupCloudText;
constexpr uint8_t kRead = 0x00;
constexpr uint8_t kWrite = 0x01;
// Items 11..14 are the INI items of the same number.
constexpr uint8_t kItemServerAddress = 11;
constexpr uint8_t kItemServerPort = 12;
constexpr uint8_t kItemUserId = 13;
constexpr uint8_t kItemControllerName = 14;
constexpr uint8_t kItemBarcode = 0x20;
constexpr uint8_t kItemCaFile = 0x21;

constexpr size_t kMaxSettingText = 64;
constexpr size_t kMaxCaFile = 0xF000;

constexpr const char* kBarcodeFile = "/data/configs/cloud_barcode";
constexpr const char* kCaFile = "/data/configs/cloud_cafile";

}  // namespace cloud

// Payload: operation (0 read, 1 write), item, then for a write the text (UTF-8, no
// terminator). Appends the reply payload: status, and for a read the text.
void cloud_text_deal(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
