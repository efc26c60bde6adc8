#pragma once
// The scaler's view of the video receivers: the timing record of each source as the
// input-source manager keeps it (hact ... nosignal, with a stable flag). Until that
// manager is part of the program, the record is derived from the input-timing words of
// the parameter RAM (0x100 + 6p: width, height, frame rate) that the receivers publish,
// with the blanking of the standard raster of that size. A reader installed by the
// input-source manager replaces the derivation.
namespace c331in {

struct ReceiverTiming {
    int hact = 0, hsync = 0, hback = 0, hpol = 0, htotal = 0;
    int vact = 0, vsync = 0, vback = 0, vpol = 0, vtotal = 0;
    float pfreq = 0;  // pixel clock, Hz
    int type = 0, datamode = 0, lane = 0, ip = 0, nosignal = 1;
};

// The record of source 0..5 copied whole; false while the receiver's record is not stable.
using ReceiverReader = bool (*)(int source, ReceiverTiming* out);
void installReceiverReader(ReceiverReader reader);
bool readReceiver(int source, ReceiverTiming* out);
// A receiver's record changed: the scaler's manager looks at it now, not at its next idle pass.
void receiverChanged();

// The record the RAM's input-timing words stand for (the default reader's rule).
ReceiverTiming timingFromRam(int source, unsigned width, unsigned height, unsigned rate);

}  // namespace c331in
