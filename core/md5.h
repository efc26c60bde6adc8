#pragma once
// MD5 message digest (RFC 1321) over data given in pieces.
#include <string>

class MD5 {
public:
    typedef unsigned char byte;

    MD5();
    MD5(const void* input, unsigned length);

    void reset();
    void update(const void* input, unsigned length);
    void update(const byte* input, unsigned length);
    // Completes the message on the first call after reset(); the same 16 bytes until the next reset().
    const byte* digest();
    std::string toString();

    static std::string bytesToHexString(const byte* input, unsigned length);

    static const byte PADDING[64];
    static const char HEX[16];

private:
    void final();
    void transform(const byte block[64]);
    static void encode(const unsigned* input, byte* output, unsigned length);
    static void decode(const byte* input, unsigned* output, unsigned length);

    unsigned _state[4];
    unsigned _count[2];  // bits processed, low word first
    byte _buffer[64];
    byte _digest[16];
    bool _finished;
};

// A process-wide digest no thread of the controller uses (each file transfer has its own);
// tests only.
extern MD5 md5;
