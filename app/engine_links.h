#pragma once
// Connects the shell's view of the sending-card engine (shellLinks()) to the engine.
void linkFpgaEngine();
// Connects the file transfer's receiving-card files to the screens that show them. After
// linkFpgaEngine() (the hook keeps copies of its links) and before the links' threads run.
void linkFileTransferScreens();
// Connects the system screens' SDI reset and WiFi restart to the input-source manager and
// the WiFi module.
void linkSystemServices();
