#pragma once
// TCP transport: the server on the port of the TcpPort setting and its thread.
#include "protocol/link_thread.h"
#include "protocol/tcpserver.h"

class networkManage {
public:
    static networkManage* pInstance();
    static networkManage* p_networkManage;   // set by start-up, before its thread runs
    // Stops the thread and closes every socket; the next pInstance() starts afresh.
    static void resetInstanceForTest();

    int port() const { return server_.boundPort(); }
    size_t clientCount() const { return server_.clientCount(); }
    size_t readAheadBytes() const { return server_.readAheadBytes(); }
    size_t heldBytes() const { return server_.heldBytes(); }
    void acceptThread();

private:
    networkManage() = default;
    TcpServer server_;
    link_thread thread_;
};
