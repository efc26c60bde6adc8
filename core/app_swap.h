#pragma once
// The application swap: a verified new application image waiting at
// /data/app/vlxH71N2 replaces /data/app/vlxH71N, the loader's start command is set back
// to the normal one, and the board restarts 300 ticks later (the GUI tick carries out
// the reboot). One procedure for the protocol's transfer and the USB upgrade.

constexpr const char* kAppImage = "/data/app/vlxH71N";
constexpr const char* kAppImageNew = "/data/app/vlxH71N2";
constexpr const char* kLoaderConfig = "/data/configs/led_load_config.ini";
constexpr const char* kLoaderNormalStart = "/data/app/vlxH71N -platform linuxfb";

// Call only once the new image is complete and checked. 0 when the image was moved into
// place and the restart is pending; 255 when the move failed (nothing restarts, the old
// application stays), a restart was already pending or the loader file is not a regular
// file (nothing swapped).
int app_swap_and_restart();

// Rewrites group "app-1" of the loader file (app_path, app_name), keeping its other
// keys, as the settings file is written (private copy, atomic replace, no lock wait).
// False when it cannot be written or is not a regular file.
bool write_loader_start_command();
