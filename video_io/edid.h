#pragma once
// The EDIDs the inputs offer to their sources: one default per kind of input (the EXT
// path, DVI, HDMI 1.4, HDMI 2.0), each a valid E-EDID 1.4 (base block, and for HDMI a
// CTA-861 extension), and the patch that makes an input offer a chosen width, height
// and refresh as its preferred timing.
#include <cstdint>
#include <string>
#include <vector>

enum class EdidKind { Ext, Dvi, Hdmi14, Hdmi20 };

// The kind of input of source number 0..5 (0 EXT, 1 DVI, 2 and 3 HDMI 1.4, 4 and 5 HDMI 2.0).
EdidKind edidKindOfSource(int source);

// The default EDID of a kind (128 bytes for DVI, 256 with the CTA extension otherwise);
// its preferred timing is the kind's default: 1920x1080@60, 3840x2160@60 for HDMI 2.0.
std::vector<uint8_t> defaultEdid(EdidKind kind);

// An input offers no picture wider or taller than this (12 bits in a detailed timing).
constexpr int kEdidLargestSize = 4095;

// Makes `edid` (a default EDID of `kind`) offer width x height @ refresh as its preferred
// timing: the first detailed timing, the screen size and the range limits are rewritten
// and the checksum recomputed. False, with the reason, for a timing the kind cannot carry
// (no standard timing, wider or taller than 4095, a pixel clock above the link's maximum);
// `edid` is then unchanged.
bool Set_Custom_HDMI_EDID(std::vector<uint8_t>& edid, EdidKind kind, int width, int height, int refresh,
                          std::string* error = nullptr);

// Header, block checksums and extension tags of an EDID read back from an EEPROM (at
// least 128 bytes; the extension count says how many more blocks belong to it). False,
// with the reason, when a source would reject it.
bool edidValid(const uint8_t* data, size_t length, std::string* error = nullptr);
// The preferred timing (first detailed timing) of a valid EDID: active width and height,
// refresh rounded to whole hertz. False when there is none.
bool edidPreferredTiming(const uint8_t* data, size_t length, int* width, int* height, int* refresh);
// Bytes that belong to the EDID in `data` (128 x (1 + extension count)), 0 when invalid.
size_t edidLength(const uint8_t* data, size_t length);
