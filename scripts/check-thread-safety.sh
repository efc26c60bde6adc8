#!/usr/bin/env bash
# The compile-time lock check (clang -Wthread-safety) refuses a guarded field touched without
# its lock: a small source using the controller's own headers is compiled once with every
# lock taken (it must compile) and once per lock with that lock left out (each must fail,
# naming the field or the function that reaches it; the RAM, the slots and the manager's base
# are reached only through such functions, none of which hands out a pointer), and then every source of the
# controller itself (not the tests or benchmarks) is checked the same way, syntax only.
# Flags come from the build's compile_commands.json.
#
# Its work is bounded, not its time: a compile whose source, flags and every file it read are
# those of its last pass is not done again (BUILD_DIR/thread-safety/ keeps what passed), nor is a
# source that the clang build VLX_TSA_CLANG_BUILD (./test.sh's fuzz build, made with the same
# check) holds compiled as it is now; and each clang gets 120 s of CPU, however long the machine's
# load makes that on the clock.
# VLX_TSA_JOBS (4) compiles at a time, never more than VLX_JOBS when that is set.
#   scripts/check-thread-safety.sh BUILD_DIR
set -euo pipefail
build="$1"
command -v clang++ >/dev/null || { echo "clang++ not found"; exit 1; }
work="$(cd "$build" && pwd)/thread-safety"
mkdir -p "$work"
jobs="${VLX_TSA_JOBS:-4}"
if [ -n "${VLX_JOBS:-}" ] && [ "$VLX_JOBS" -lt "$jobs" ]; then jobs="$VLX_JOBS"; fi

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

# every compile of the check: the source with every lock taken, each lock left out, the controller's own
here="$(cd "$(dirname "$0")/.." && pwd)"
python3 - "$build" "$here" "$jobs" "$work" <<'PY'
import hashlib, json, os, resource, shlex, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor
build, root, jobs, work = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
kCpuSeconds = 120
# a clang past its CPU seconds ends on SIGXCPU; the limit goes to every clang started below
resource.setrlimit(resource.RLIMIT_CPU, (kCpuSeconds, resource.getrlimit(resource.RLIMIT_CPU)[1]))
base = ["clang++", "-std=c++17", "-fsyntax-only", "-Wno-everything", "-Wthread-safety", "-Werror=thread-safety"]
clang = subprocess.run(["clang++", "--version"], capture_output=True, text=True).stdout

# (name, what it is, directory, command, the field a refusal must name: None when it must compile)
checks = []
defines = {}   # per source of the controller, its definitions
touchFlags = None
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
    if rel == "fpga/fpga_schedule.cpp":
        touchFlags = flags   # the small source is compiled as the FPGA engine is
    checks.append((rel, rel, e.get("directory", build), base + flags + [e["file"]], None))
    defines[e["file"]] = sorted(x for x in flags if x.startswith("-D"))
units = len(checks)
if not units or touchFlags is None:
    sys.exit("no controller sources (fpga/fpga_schedule.cpp among them) in " + build)
touch = os.path.join(work, "touch.cpp")
checks.append(("every lock taken", "the source with every lock taken", build, base + touchFlags + [touch], None))
for case in ("SCHEDULE:on_hour SCHEDULE:bri_current_level PORT:own_answer IMAGE:MCU_RAM_PARA_func "
             "SETTINGS:g_str_ip MANAGE:g_manageGuarded RAM:writeRam RAM:mode_save_requests MODE:putSlot "
             "THREAD:setRamByte BASE:word RECORDS:hdminfo").split():
    lock, field = case.split(":")
    checks.append((case, "without the %s lock, '%s'" % (lock, field), build,
                   base + touchFlags + ["-DDROP_" + lock, touch], field))

# What passed: per check, the files its compile read and a digest of them with its command.
passedFile = os.path.join(work, "passed.json")
try:
    passed = json.load(open(passedFile))
except (OSError, ValueError):
    passed = {}
digests = {}
def digestOf(path):
    if path not in digests:
        try:
            with open(path, "rb") as f:
                digests[path] = hashlib.sha256(f.read()).hexdigest()
        except OSError:
            digests[path] = "gone"
    return digests[path]
def keyOf(command, files):
    h = hashlib.sha256((clang + "\0".join(command)).encode())
    for f in files:
        h.update((f + digestOf(f)).encode())
    return h.hexdigest()

def run(check):
    name, what, d, command, field = check
    deps = os.path.join(work, hashlib.sha256(name.encode()).hexdigest()[:16] + ".d")
    p = subprocess.run(command + ["-MD", "-MF", deps], cwd=d, capture_output=True, text=True)
    try:
        # "target: file file \\" lines, the source among the files
        files = sorted(set(shlex.split(open(deps).read().replace("\\\n", " "))[1:]))
        os.remove(deps)
    except OSError:
        files = []
    if p.returncode < 0:
        return name, "FAIL: clang++ used over %d s of CPU on %s (signal %d)\n" % (kCpuSeconds, what, -p.returncode), None
    if field is None and p.returncode != 0:
        return name, p.stderr + "FAIL: " + what + "\n", None
    if field is not None and p.returncode == 0:
        return name, "FAIL: " + what + " is written and the check passes\n", None
    if field is not None and ("'%s' requires holding" % field) not in p.stderr:
        return name, p.stderr + "FAIL: " + what + ": the check fails, but not on it\n", None
    # with no list of what it read, no record: a key of the command alone would pass a changed source
    if command[-1] not in files:
        return name, "", None
    return name, "", {"files": files, "key": keyOf(command, files)}

# A clang build of the same sources with the same definitions and the same check (./test.sh's fuzz
# build, VLX_TSA_CLANG_BUILD) has checked each source whose object it holds newer than every file
# that object was made from (ninja's record of them): the object would not be there had the check
# refused it.
def checkedBy(other):
    objects = {}   # object -> source
    for e in json.load(open(os.path.join(other, "compile_commands.json"))):
        a = e["arguments"] if "arguments" in e else shlex.split(e["command"])
        if ("clang" in os.path.basename(a[0]) and "-Werror=thread-safety" in a and "-o" in a and
                defines.get(e["file"]) == sorted(x for x in a if x.startswith("-D"))):
            objects[a[a.index("-o") + 1]] = e["file"]
    if not objects:
        return set()
    listed = subprocess.run(["ninja", "-C", other, "-t", "deps"] + sorted(objects), capture_output=True, text=True)
    done, obj, fresh = set(), None, False
    def mtime(path):
        try:
            return os.stat(os.path.join(other, path)).st_mtime_ns
        except OSError:
            return None
    for line in listed.stdout.splitlines() + [""]:
        if line.startswith("    ") and obj:
            t = mtime(line.strip())
            fresh = fresh and t is not None and t <= made
        elif line.strip():
            if obj and fresh:
                done.add(obj)
            obj = line.split(":")[0]
            made = mtime(obj)
            fresh = line.endswith("(VALID)") and made is not None and obj in objects
        else:
            if obj and fresh:
                done.add(obj)
            obj = None
    return {os.path.relpath(objects[o], root) for o in done}
other = os.environ.get("VLX_TSA_CLANG_BUILD")
elsewhere = checkedBy(other) if other else set()

start = time.time()
todo = [c for c in checks if c[0] not in elsewhere and
        (c[0] not in passed or passed[c[0]]["key"] != keyOf(c[3], passed[c[0]]["files"]))]
failed = 0
with ThreadPoolExecutor(jobs) as pool:
    for name, err, record in pool.map(run, todo):
        passed.pop(name, None)
        if err:
            failed += 1
            sys.stdout.write(err)
        elif record:
            passed[name] = record
tmp = passedFile + ".tmp"
with open(tmp, "w") as f:
    json.dump(passed, f)
os.replace(tmp, passedFile)
print("%d compiles (each lock left out, the controller's %d sources): %d done, %d checked by %s, %d unchanged since "
      "they passed, %d failed (%d at a time, %.0f s)" % (len(checks), units, len(todo), len(elsewhere), other or "no clang build",
                                                        len(checks) - len(todo) - len(elsewhere), failed, jobs,
                                                        time.time() - start))
sys.exit(1 if failed else 0)
PY
