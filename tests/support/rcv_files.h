#pragma once
// Receiving-card files written by scripts/gen_rcv_files.py from a JSON description (the
// byte layouts, not our reader), under the test root; the generator's map tells where
// every record and its data landed.
#include <QJsonObject>

#include <string>
#include <vector>

namespace testkit {

// Writes the file at `absolute` and returns the generator's map (empty on failure).
QJsonObject generateRcvFile(const std::string& absolute, const std::string& jsonDescription);
// The bytes of an operation's data as the map gives them ("hex").
std::vector<uint8_t> mapBytes(const QJsonObject& op);

}  // namespace testkit
