#pragma once
// Connects the shell's view of the sending-card engine (shellLinks()) to the engine.
void linkFpgaEngine();
