#include "support/rcv_files.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/platform.h"
#include "support/testkit.h"

namespace testkit {

QJsonObject generateRcvFile(const std::string& absolute, const std::string& jsonDescription) {
    writeFile("/gen/desc.json", jsonDescription);
    plat::makeDirs(absolute.substr(0, absolute.rfind('/')));
    const std::string cmd = "python3 " + std::string(VLX_SOURCE_DIR) + "/scripts/gen_rcv_files.py '" +
                            plat::path("/gen/desc.json") + "' '" + plat::path(absolute) + "' --map '" +
                            plat::path("/gen/map.json") + "'";
    if (std::system(cmd.c_str()) != 0) {
        ADD_FAILURE() << cmd;
        return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromStdString(readFile("/gen/map.json"))).object();
}

std::vector<uint8_t> mapBytes(const QJsonObject& op) {
    const QByteArray b = QByteArray::fromHex(op.value("hex").toString().toLatin1());
    return std::vector<uint8_t>(b.begin(), b.end());
}

}  // namespace testkit
