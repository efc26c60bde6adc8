#!/usr/bin/env bash
# Builds the screen tests and saves the status, home (with its user-mode panel), settings and
# machine-state screens, the five input and layout screens, the output, test-pattern, picture and
# link screens and the advanced-settings and smart-mapping screens at 800 x 480
# into docs/screenshots/ (rendered offscreen, no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VLX_BUILD_DIR:-build-screenshots}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVLX_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target test_ui_shell test_ui_input test_ui_output test_ui_system -j "${VLX_JOBS:-4}"
out="$PWD/docs/screenshots"
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 VLX_BOARD=sim VLX_SCREENSHOT_DIR="$out" \
  "$build/tests/test_ui_shell" --gtest_filter='*StatusHomeAndSettingsScreensGrabAtPanelSize*'
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 VLX_BOARD=sim VLX_SCREENSHOT_DIR="$out" \
  "$build/tests/test_ui_input" --gtest_filter='*InputAndLayoutScreensGrabAtPanelSize*'
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 VLX_BOARD=sim VLX_SCREENSHOT_DIR="$out" \
  "$build/tests/test_ui_output" --gtest_filter='*EveryPageGrabsAtPanelSize*'
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 VLX_BOARD=sim VLX_SCREENSHOT_DIR="$out" \
  "$build/tests/test_ui_system" --gtest_filter='*AdvancedAndSmartMappingPagesGrabAtPanelSize*'
ls -l "$out"
