#!/usr/bin/env bash
# The compile-time lock check (clang -Wthread-safety) refuses a guarded field touched without
# its lock: a small source using the controller's own headers is compiled once with every
# lock taken (it must compile) and once per lock with that lock left out (each must fail,
# naming the field or the function that reaches it; the RAM, the slots and the manager's base
# are reached only through such functions, none of which hands out a pointer), and then every source of the
# controller itself (not the tests or benchmarks) is checked the same way, syntax only,
# VLX_TSA_JOBS (default 4) at a time. Flags come from the build's compile_commands.json.
#   scripts/check-thread-safety.sh BUILD_DIR
set -euo pipefail
build="$1"
command -v clang++ >/dev/null || { echo "clang++ not found"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# the include paths and definitions the FPGA engine is compiled with, for clang
flags="$(python3 - "$build/compile_commands.json" <<'PY'
import json, shlex, sys
for e in json.load(open(sys.argv[1])):
    if e["file"].endswith("/fpga/fpga_schedule.cpp"):
        a = shlex.split(e["command"]); out = []
        for i, x in enumerate(a):
            if x.startswith(("-I", "-D")) or x == "-fPIC": out.append(x)
            if x == "-isystem": out += [x, a[i + 1]]
        print(" ".join(shlex.quote(x) for x in out))
        break
PY
)"
[ -n "$flags" ] || { echo "no compile command for fpga/fpga_schedule.cpp in $build"; exit 1; }

cat >"$work/touch.cpp" <<'EOF'
#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_manage.h"
#include "video_io/kavelsource.h"

#include <cstring>
#include <thread>

int g_manageGuarded GUARDED_BY(c331_manage::manage_mutex);
uint16_t g_baseWord;

void touchAll(fpga_manage& e) {
    {
#ifndef DROP_SCHEDULE
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
#endif
        e.on_hour[0] = 7;
        g_change.bri_current_level = 3;
    }
    {
#ifndef DROP_PORT
        plat::Locker<plat::RecursiveMutex> lock(e.port_mutex);
#endif
        e.own_answer = 0;
    }
    {
#ifndef DROP_IMAGE
        plat::Locker<plat::Mutex> lock(fpga_manage::image_mutex);
#endif
        fpga_manage::MCU_RAM_PARA_func[0][256] = 1;
    }
    {
#ifndef DROP_SETTINGS
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
#endif
        g_str_ip = QStringLiteral("192.168.0.10");
    }
    {
#ifndef DROP_MANAGE
        ManageMutexLocker lock;
#endif
        g_manageGuarded = 1;
    }
    {
#ifndef DROP_RAM
        ManageMutexLocker lock;
#endif
        VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
        static const unsigned char bytes[4] = {1, 2, 3, 4};
        ram->writeRam(vlxram::kLedWidth, bytes, sizeof bytes);
        ++ram->mode_save_requests;
    }
    {
        VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
#ifndef DROP_MODE
        plat::Locker<plat::Mutex> lock(p->mode_mutex);
#endif
        static const unsigned char in[8] = {};
        p->putSlot(3, 16, in, sizeof in);
    }
    {
        ManageMutexLocker held;  // held here, not on the thread below
        std::thread([] {
#ifndef DROP_THREAD
            ManageMutexLocker lock;
#endif
            VlxRamPara::p_vlxrampara_config->setRamByte(vlxram::kOutputX, 0);
        }).detach();
    }
    {
#ifndef DROP_BASE
        ManageMutexLocker lock;
#endif
        g_baseWord = applied_ram::word(vlxram::kBrightness);
    }
    {
#ifndef DROP_RECORDS
        plat::Locker<plat::QtMutex> lock(Utils::_source_hdminfo_mutex);
#endif
        kavelsource::p_kavel_source->hdminfo[2].stable = 1;
    }
}
EOF

compile() {
    # shellcheck disable=SC2086
    eval clang++ -std=c++17 -fsyntax-only -Wthread-safety -Werror=thread-safety $flags "$@" "$work/touch.cpp"
}

if ! compile >"$work/all.log" 2>&1; then
    cat "$work/all.log"
    echo "FAIL: the source with every lock taken does not compile"
    exit 1
fi
failed=0
for case in SCHEDULE:on_hour SCHEDULE:bri_current_level PORT:own_answer IMAGE:MCU_RAM_PARA_func \
            SETTINGS:g_str_ip MANAGE:g_manageGuarded \
            RAM:writeRam RAM:mode_save_requests MODE:putSlot THREAD:setRamByte BASE:word RECORDS:hdminfo; do
    lock="${case%%:*}" field="${case#*:}"
    if compile "-DDROP_$lock" >"$work/drop.log" 2>&1; then
        echo "FAIL: without the $lock lock, '$field' is written and the check passes"
        failed=1
    elif ! grep -q "'$field' requires holding" "$work/drop.log"; then
        cat "$work/drop.log"
        echo "FAIL: without the $lock lock the check fails, but not on '$field'"
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "every lock left out is refused"

# the controller's own sources, each as its build compiles it
here="$(cd "$(dirname "$0")/.." && pwd)"
python3 - "$build" "$here" "${VLX_TSA_JOBS:-4}" <<'PY' || failed=1
import json, os, shlex, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor
build, root, jobs = sys.argv[1], sys.argv[2], int(sys.argv[3])
units = []
for e in json.load(open(os.path.join(build, "compile_commands.json"))):
    rel = os.path.relpath(e["file"], root)
    if rel.split("/")[0] not in ("core", "fpga", "scaler", "protocol", "ui", "video_io", "platform", "app"):
        continue
    a = e["arguments"] if "arguments" in e else shlex.split(e["command"])
    flags = []
    for i, x in enumerate(a):
        if x.startswith(("-I", "-D")) or x == "-fPIC":
            flags.append(x)
        if x == "-isystem":
            flags += [x, a[i + 1]]
    units.append((rel, e["file"], flags, e.get("directory", build)))
if not units:
    sys.exit("no controller sources in " + build)
def check(u):
    rel, f, flags, d = u
    cmd = ["clang++", "-std=c++17", "-fsyntax-only", "-Wno-everything", "-Wthread-safety",
           "-Werror=thread-safety"] + flags + [f]
    try:
        p = subprocess.run(cmd, cwd=d, capture_output=True, text=True, timeout=300)
        return rel, p.returncode, p.stderr
    except subprocess.TimeoutExpired:
        return rel, 1, "clang++ took over 300 s\n"
start, refused = time.time(), 0
with ThreadPoolExecutor(jobs) as pool:
    for rel, rc, err in pool.map(check, units):
        if rc:
            refused += 1
            sys.stdout.write(err + "FAIL: " + rel + "\n")
print("the controller's %d sources: %d refused (%.0f s)" % (len(units), refused, time.time() - start))
sys.exit(1 if refused else 0)
PY
exit $failed
