// Check, self-recovery and scan-file jobs over the receiving-card files: one step machine
// (byte 1 of the job block) and the operation sub-machine that plays one operation record
// (byte 28). Files are validated whole before anything is sent; a card found by a check is
// remembered with its screen, net and port until the next check.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"
#include "fpga/rcv_recovery.h"

using namespace job_block;

namespace {

constexpr uint32_t kSettleTicks = 239;
constexpr uint32_t kSettleProgressFrom = 80;
constexpr uint32_t kNetAnswerTicks = 500;
constexpr uint32_t kErrorCloseTicks = 100;
constexpr uint32_t kPacketBytes = rcvfile::kRamPacket;
constexpr uint8_t kSendsPerFrame = 3;   // a frame goes out at most three times

// steps of the main machine
enum : uint8_t {
    kStart = 0, kSettle = 1, kChooseFile = 2, kReadParts = 3, kCheckParts = 4, kScreenHead = 5, kScreenRecord = 6,
    kRecoveryLists = 7, kNetCount = 8, kNetRecord = 9, kCardOps = 10, kCardOp = 11, kCardPlay = 12,
    kCheckNet = 13, kCheckWait = 14, kNextNet = 15, kListOps = 17, kListOp = 18, kListPlay = 19,
    kReport = 33, kErrorEnd = 34, kErrorClose = 35,
};
// sub-steps of one operation
enum : uint8_t {
    kOpStart = 20, kOpCards = 21, kOpKind = 22, kOpRam = 23, kOpRegisters = 24, kOpActivate = 25, kOpSave = 26,
    kOpReconfigure = 27, kOpSleep = 28, kOpSearch = 29, kOpUser = 30, kOpWait = 31, kOpDone = 32,
};
using rcvfile::kTargetRam;
using rcvfile::kTargetRegister;
constexpr uint8_t kWrite = rcvfile::kTypeWrite, kRam2Flash = rcvfile::kTypeRam2Flash,
                  kActivate = rcvfile::kTypeActiveFirmware, kReconfig = rcvfile::kTypeReconfig,
                  kPause = rcvfile::kTypeSleep, kSearchRxc = rcvfile::kTypeSearchRxc,
                  kUserFrame = rcvfile::kTypeUserDefined;

uint8_t step() { return u8(kStep); }
void setStep(uint8_t s) { setU8(kStep, s); }
uint8_t subStep() { return u8(kSubStep); }
void setSubStep(uint8_t s) { setU8(kSubStep, s); }

using rcv::cardName;
using rcv::portName;
using rcv::twoDigits;

const char* jobName(fpga_manage::RCV_CHECK_OR_RECOVERY arg) {
    switch (arg) {
    case fpga_manage::RCV_CHECK: return "receiving-card check";
    case fpga_manage::RCV_RECOVERY: return "receiving-card self-recovery";
    default: return "scan-file load";
    }
}

}  // namespace

// ---------------------------------------------------------------- what the jobs read of the reader

namespace {

using rcvfile::kPartScreen;
using rcvfile::kPartSmartDebug;
using rcvfile::kPartXY;

// -1: the folder is missing; else the number of files in it.
int fileCount(rcvRecovery& r, const char* dir) {
    if (r.get_dir_file(QString::fromLatin1(dir)) != 0) return -1;
    const QString d = QString::fromLatin1(dir);
    return int(d == QLatin1String(rcvfile::kRecoveryDir) ? r.rcvrecovery_file_list().size()
                                                          : r.smartmapping_file_list().size());
}

}  // namespace

// ---------------------------------------------------------------- main machine

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY arg) {
    if (jobHeldByPc()) return;
    rcvRecovery& r = *rcv_recovery;
    const bool check = arg == RCV_CHECK, recovery = arg == RCV_RECOVERY, scan = arg == RCV_SMART_FILE;
    // the screen that handed the job over hears of it before the ring closes
    auto reportFailed = [&](const std::string& why) {
        const EngineEvents& events = engineEvents();
        if (events.jobFailed) events.jobFailed(u8(kOperation), why);
    };
    auto errorEnd = [&](const std::string& why) {
        writeLogMsg(LOG_ERROR, std::string(jobName(arg)) + ": " + why);
        reportFailed(why);
        setStep(kErrorEnd);
    };
    auto stamp = [] { g_change.job_progress_time = G_timeTicks; };
    auto elapsedProgress = [this] { jobProgress(int(Utils::getTimeSpace(g_change.job_progress_time) * 100 / 500)); };
    const QString& path = job_path_;
    // An operation record was read: play its data from `position` next.
    auto startOperation = [&](uint32_t position, uint8_t playStep) {
        setSubStep(kOpStart);
        job_position_ = position;
        jobProgress(int((u8(kOperationIndex) + 1) * 100 / (r.operate_times + 1)));
        g_change.job_busy_count = 0;
        stamp();
        setStep(playStep);
    };
    // Plays the current operation; once it is done, the list's next record or `doneStep`.
    auto playOperation = [&](bool standalone, uint8_t recordStep, uint8_t doneStep) {
        const int done = load_rcv_xy_operate(path, job_position_, standalone);
        if (done < 0) {
            errorEnd("operation refused");
        } else if (done == 1) {
            const unsigned next = u8(kOperationIndex) + 1u;
            if (next < r.operate_times) {
                setU8(kOperationIndex, uint8_t(next));
                setSubStep(kOpStart);
                setStep(recordStep);
            } else {
                setStep(doneStep);
            }
        } else {
            jobBusyProgress();
        }
    };

    switch (step()) {
    case kStart:
        unanswered_.clear();
        setU16(kResult, kResultNone);
        {
            plat::Locker<plat::RecursiveMutex> lock(port_mutex);
            check_config_valid = false;
            check_port = -1;
        }
        // a check starts from nothing: what an earlier one found is forgotten
        if (check) found_card = FoundCard{};
        if (recovery && !found_card.valid) {
            errorEnd("no card found by a check");
            break;
        }
        if (get_fpga_status() != 1) {
            errorEnd("the FPGAs are not up");
            break;
        }
        setStep(kSettle);
        stamp();
        elapsedProgress();
        break;
    case kSettle: {
        const uint32_t elapsed = Utils::getTimeSpace(g_change.job_progress_time);
        if (elapsed > kSettleTicks)
            setStep(kChooseFile);
        else if (elapsed >= kSettleProgressFrom)
            elapsedProgress();
        break;
    }
    case kChooseFile:
        if (scan) {
            int files = fileCount(r, rcvfile::kMappingDir);
            if (files <= 0) {
                files = fileCount(r, rcvfile::kUsbDir);
            }
            if (files < 0) {
                errorEnd("no scan-file folder");
            } else if (files == 0) {
                // the file chosen is gone with the rest: nothing was loaded
                writeLogMsg(LOG_WARNING, std::string(jobName(arg)) + ": no scan file left");
                reportFailed("no scan file left");
                setStep(kReport);
            } else {
                job_path_ = g_kvfile_name;  // once: the screen may list again meanwhile
                std::string why;
                if (job_path_.isEmpty() || !r.validate_standalone(job_path_, &why)) {
                    errorEnd("scan file " + job_path_.toStdString() + " refused: " + why);
                    break;
                }
                r.init_para();
                setStep(kListOps);
                stamp();
                elapsedProgress();
            }
        } else {
            const int files = fileCount(r, rcvfile::kRecoveryDir);
            if (files < 0) {
                errorEnd("no recovery folder");
            } else if (files != 1) {
                // a recovery without its one file would report the card as restored
                if (recovery)
                    errorEnd(std::to_string(files) + " files in the recovery folder");
                else
                    setStep(kReport);
            } else {
                job_path_ = QString::fromLatin1(rcvfile::kRecoveryDir) + QLatin1Char('/') + QLatin1String(rcvfile::kRecoveryName);
                std::string why;
                if (!r.validate_packed(job_path_, &why)) {
                    errorEnd("recovery file refused: " + why);
                    break;
                }
                if (r.get_rcvPackedFileNum(path) != 0) {
                    errorEnd("recovery file unreadable");
                    break;
                }
                setStep(kReadParts);
                stamp();
                elapsedProgress();
            }
        }
        break;
    case kReadParts: {
        const int n = std::min<int>(r.part_num(), rcvfile::kMaxParts);
        for (int k = 0; k < n; ++k)
            if (r.get_rcvPackedFileInfo(path, k) != 0) {
                errorEnd("part table unreadable");
                return;
            }
        setStep(kCheckParts);
        stamp();
        elapsedProgress();
        break;
    }
    case kCheckParts:
        setU16(kResult, kResultNone);
        // the XY and smart-debugging parts are needed only by screens that have an area
        // there (the file's check refused one that lacks its part)
        if (!r.has_part(kPartScreen)) {
            errorEnd("recovery file without its screen part");
            break;
        }
        setStep(kScreenHead);
        elapsedProgress();
        break;
    case kScreenHead:
        if (r.update_rcvScreenHead(path) != 0) {
            errorEnd("screen head unreadable");
            break;
        }
        if (check) {
            setU8(kScreen, 0);
            if (r.screen_head.screen_num == 0) {  // nothing to check
                setStep(kReport);
                break;
            }
        } else {
            setU8(kScreen, found_card.screen);
            jobProgress(14);
        }
        setStep(kScreenRecord);
        break;
    case kScreenRecord:
        if (r.update_rcvScreenIDinfo(path, u8(kScreen)) != 0) {
            errorEnd("screen record unreadable");
            break;
        }
        if (check) {
            setStep(kNetCount);
            jobProgress(int((u8(kScreen) + 1) * 100 / (r.screen_head.screen_num + 1)));
        } else {
            setStep(kRecoveryLists);
        }
        break;
    case kRecoveryLists:
        if (r.screen_info.rcv_para_len != 0) {
            if (!r.has_part(kPartSmartDebug)) {
                errorEnd("recovery file without its smart-debugging part");
                break;
            }
            setStep(kListOps);
        } else if (r.screen_info.rcv_xy_len != 0) {
            if (!r.has_part(kPartXY)) {
                errorEnd("recovery file without its XY part");
                break;
            }
            setStep(kNetCount);
        } else {
            errorEnd("the screen has nothing to replay");
        }
        break;
    case kNetCount:
        if (r.update_rcvXYscreenNetnum(path) != 0) {
            errorEnd("net count unreadable");
            break;
        }
        if (check) {
            setU8(kNet, 0);
            jobProgress(22);
            // a screen without nets moves on to the next screen
            setStep(r.net_num == 0 ? kNextNet : kNetRecord);
        } else {
            if (found_card.net >= r.net_num) {
                errorEnd("the found card's net is not in the file");
                break;
            }
            setU8(kNet, found_card.net);
            jobProgress(22);
            setStep(kNetRecord);
        }
        break;
    case kNetRecord:
        if (r.update_rcvXYscreenNetpara(path, u8(kNet)) != 0) {
            errorEnd("net record unreadable");
            break;
        }
        setU16(kResult, kResultNone);
        if (r.net_para.net_ledx >= unsigned(rcv::kGlobalPorts)) {
            errorEnd("net on port " + std::to_string(r.net_para.net_ledx));
            break;
        }
        job_port_ = int(r.net_para.net_ledx);
        if (check) {
            setStep(kCheckNet);
            jobProgress(int((u8(kNet) + 1) * 100 / (r.net_num + 1)));
        } else if (r.net_para.net_ledx != found_card.port || found_card.card >= r.net_para.net_rcv_num) {
            errorEnd("the found card is not on this net of the file");
        } else {
            setU8(kNetCard, uint8_t(found_card.card));
            setStep(kCardOps);
            jobProgress(28);
        }
        break;
    case kCardOps:
        if (r.update_rcvXYrcvOperateTimes(path, u8(kNetCard), false) != 0) {
            errorEnd("card list unreadable");
            break;
        }
        setU8(kOperationIndex, 0);
        setStep(r.operate_times == 0 ? kReport : kCardOp);
        break;
    case kCardOp:
        if (r.update_rcvXYrcvOperatepara(path, u8(kOperationIndex), false) != 0) {
            errorEnd("operation record unreadable");
            break;
        }
        startOperation(uint32_t(r.xy_data_position()), kCardPlay);
        break;
    case kCardPlay:
        playOperation(false, kCardOp, kReport);
        break;
    case kCheckNet: {
        const int port = job_port_;
        {
            plat::Locker<plat::RecursiveMutex> lock(port_mutex);
            check_config_id = r.screen_info.config_id;
            check_config_valid = true;
            check_port = port;
        }
        setU16(kResult, kResultNone);
        if (!check_error_rcv_search_card_cmd(port & 15, port >> 4, r.screen_info.config_id, 1))
            writeLogMsg(LOG_WARNING, std::string(jobName(arg)) + ": search not sent on " + portName(port));
        jobProgress(37);
        setStep(kCheckWait);
        restartStepTime();
        stamp();
        g_change.job_busy_count = 0;
        break;
    }
    case kCheckWait: {
        const uint16_t result = u16(kResult);
        if (result != kResultNone) {
            setStep(result == kResultClean ? kNextNet : kReport);
        } else if (answerTimedOut(kNetAnswerTicks)) {
            unanswered_.push_back(portName(job_port_));
            setStep(kNextNet);
        } else {
            jobBusyProgress();
        }
        break;
    }
    case kNextNet: {
        {
            plat::Locker<plat::RecursiveMutex> lock(port_mutex);
            check_port = -1;
        }
        const unsigned net = u8(kNet) + 1u;
        if (net < r.net_num) {
            setU8(kNet, uint8_t(net));
            setStep(kNetRecord);
            break;
        }
        setU8(kNet, 0);
        const unsigned screen = u8(kScreen) + 1u;
        if (screen >= r.screen_head.screen_num) {
            setStep(kReport);
        } else {
            setU8(kScreen, uint8_t(screen));
            setStep(kScreenRecord);
        }
        break;
    }
    case kListOps:
        if (r.update_smartDebugingOperateTimes(path, scan) != 0) {
            errorEnd("operation list unreadable");
            break;
        }
        if (scan) {
            job_port_ = line_type[line_field::kPort];
            if (job_port_ >= rcv::kGlobalPorts || get_port_card_num(job_port_) == 0) {
                errorEnd("no cards on " + portName(job_port_));
                break;
            }
        } else {
            job_port_ = found_card.port;
            setU8(kNetCard, uint8_t(found_card.card));
            if (get_port_card_num(job_port_) <= found_card.card) {
                errorEnd(cardName(job_port_, found_card.card) + " is not on its port");
                break;
            }
        }
        setU8(kOperationIndex, 0);
        // an empty list moves on: the scan file is done, a recovery goes on with the card's list
        if (r.operate_times == 0)
            setStep(scan ? kReport : kNetCount);
        else
            setStep(kListOp);
        break;
    case kListOp:
        if (r.update_smartDebugingOperatepara(path, u8(kOperationIndex), scan) != 0) {
            errorEnd("operation record unreadable");
            break;
        }
        startOperation(uint32_t(r.smart_data_position(scan)), kListPlay);
        break;
    case kListPlay:
        playOperation(scan, kListOp, scan ? kReport : kNetCount);
        break;
    case kReport: {
        const uint16_t result = u16(kResult);
        reportUnanswered(jobName(arg));
        const EngineEvents& events = engineEvents();
        if (check && result != kResultNone && result != kResultClean) {
            found_card.valid = true;
            found_card.screen = u8(kScreen);
            found_card.net = u8(kNet);
            found_card.port = uint8_t(job_port_);
            found_card.card = uint16_t(result & 0xFF);
            const std::string entry = twoDigits(found_card.screen + 1u) + "/" + twoDigits(found_card.port + 1u) + "/" +
                                      twoDigits(found_card.card + 1u) + "/" + twoDigits(r.net_para.net_rcv_num);
            writeLogMsg(LOG_INFO, std::string(jobName(arg)) + ": card to update " + entry);
            if (events.checkReport) events.checkReport({entry}, true);
            VlxRamPara::test_signal(1);
        } else if (check) {
            found_card = FoundCard{};  // nothing found: nothing a recovery could act on
        } else if (recovery) {
            // the card is restored: the screen's list empties
            found_card = FoundCard{};
            if (events.checkReport) events.checkReport({}, false);
            VlxRamPara::test_signal(99);
        }
        jobEnd();
        break;
    }
    case kErrorEnd:
        jobProgress(100);
        setStep(kErrorClose);
        stamp();
        break;
    case kErrorClose:
        if (Utils::getTimeSpace(g_change.job_progress_time) > kErrorCloseTicks) {
            reportUnanswered(jobName(arg));
            stamp();
            jobEnd(false);
            VlxRamPara::test_signal(1);
        }
        break;
    default:
        errorEnd("step " + std::to_string(step()) + " undefined");
        break;
    }
}

// ---------------------------------------------------------------- one operation

// 1 when the operation is finished, 0 while it runs, -1 when it cannot be carried out.
int fpga_manage::load_rcv_xy_operate(const QString& path, uint32_t position, bool standalone) {
    rcvRecovery& r = *rcv_recovery;
    const rcvOperatePara op = r.operate_para;
    const int port = job_port_;
    if (port < 0 || port >= rcv::kGlobalPorts) return -1;
    const int local = port & 15;
    const uint16_t card = u16(kCard);
    uint8_t* f = job_frame_;
    // the data of a one-frame operation, or one packet of a RAM write
    auto read = [&](uint32_t at, uint32_t n) {
        if (n > kPacketBytes) return false;
        return n == 0 || r.update_rcvOperatedata(path, at, job_data_, n) == 0;
    };
    // counts a packet, then sends the frame built; false when it could not be built
    auto send = [&](int n) {
        if (n <= 0) return false;
        job_send(f, uint16_t(n), port);
        setSubStep(kOpWait);
        restartStepTime();
        return true;
    };
    auto count = [] {
        if (u8(kRetries) == 0) setU8(kPacketNumber, uint8_t(u8(kPacketNumber) + 1));
    };
    auto target = [&]() -> std::string { return standalone ? portName(port) : cardName(port, card); };

    switch (subStep()) {
    case kOpStart:
        setU8(kRetries, 0);
        setSubStep(kOpCards);
        return 0;
    case kOpCards: {
        const uint16_t cards = get_port_card_num(port);
        setU16(kCardsOnPort, cards);
        setU16(kCard, standalone ? uint16_t(cards ? cards - 1 : 0) : uint16_t(u8(kNetCard)));
        setSubStep(kOpKind);
        return 0;
    }
    case kOpKind: {
        setU8(kPacketNumber, 0);
        setU8(kPacketCount, 1);
        job_timeout_ = op.timeticks / 10;
        uint8_t next = kOpDone;
        switch (op.type) {
        case kWrite:
            if (op.target == kTargetRam) {
                const uint32_t packets = op.dataLen / kPacketBytes + 1;
                if (packets > 255) return -1;
                setU8(kPacketCount, uint8_t(packets));
                next = kOpRam;
            } else if (op.target == kTargetRegister) {
                next = kOpRegisters;
            }
            break;
        case kRam2Flash:
            job_timeout_ = (op.timeticks + 1000u * u16(kCardsOnPort)) / 10;
            next = kOpSave;
            break;
        case kActivate: next = kOpActivate; break;
        case kReconfig: next = kOpReconfigure; break;
        case kPause:
            restartStepTime();
            next = kOpSleep;
            break;
        case kSearchRxc: next = kOpSearch; break;
        case kUserFrame: next = kOpUser; break;
        default: break;  // an upgrade or an unknown type is not carried out
        }
        if (next != kOpRam && next != kOpSave && next != kOpSleep && next != kOpDone && op.dataLen > kPacketBytes)
            return -1;
        setSubStep(next);
        return 0;
    }
    case kOpRam: {
        const uint8_t number = u8(kRetries) == 0 ? uint8_t(u8(kPacketNumber) + 1) : u8(kPacketNumber);
        const uint32_t n = number < u8(kPacketCount) ? kPacketBytes : op.dataLen % kPacketBytes;
        const uint32_t at = (number - 1u) * kPacketBytes;
        if (!read(position + at, n)) return -1;
        count();
        return send(load_write_ram_cmd_create(local, card, op.targetAddr + at, job_data_, uint16_t(n), f, standalone,
                                              sizeof job_frame_))
                   ? 0
                   : -1;
    }
    case kOpRegisters:
        if (!read(position, op.dataLen)) return -1;
        count();
        return send(load_write_reg_cmd_create(local, card, job_data_, uint16_t(op.dataLen), f, standalone,
                                              sizeof job_frame_))
                   ? 0
                   : -1;
    case kOpActivate:
        if (!read(position, op.dataLen)) return -1;
        count();
        return send(rcv_active_firmware_cmd_create(local, card, job_data_, uint16_t(op.dataLen), f, sizeof job_frame_))
                   ? 0
                   : -1;
    case kOpSave:
        count();
        return send(save_para2flash_cmd_create(local, card, f, standalone, sizeof job_frame_)) ? 0 : -1;
    case kOpReconfigure:
        if (!read(position, op.dataLen)) return -1;
        count();
        return send(rcv_reconfig_cmd_create(local, card, job_data_, uint16_t(op.dataLen), f, sizeof job_frame_)) ? 0
                                                                                                                  : -1;
    case kOpSleep:
        if (Utils::getTimeSpace(stepTime()) >= op.timeticks / 10) setSubStep(kOpDone);
        return 0;
    case kOpSearch:
        if (!read(position, op.dataLen)) return -1;
        count();
        return send(load_search_rxc_cmd_create(local, job_data_, uint16_t(op.dataLen), f, sizeof job_frame_)) ? 0 : -1;
    case kOpUser:
        if (!read(position, op.dataLen)) return -1;
        count();
        return send(load_write_user_defined_cmd_create(local, card, job_data_, uint16_t(op.dataLen), f, standalone,
                                                       sizeof job_frame_))
                   ? 0
                   : -1;
    case kOpWait: {
        const bool perCard = op.type == kActivate || op.type == kReconfig;
        const uint8_t resend = op.type == kActivate ? kOpActivate
                               : op.type == kReconfig ? kOpReconfigure
                               : op.type == kRam2Flash ? kOpSave
                               : op.type == kUserFrame ? kOpUser
                               : op.type == kSearchRxc ? kOpSearch
                               : op.target == kTargetRam ? kOpRam
                                                          : kOpRegisters;
        if (u8(kReply)) {
            setU8(kReply, 0);
            setU8(kRetries, 0);
            if (perCard) {
                // a scan file activates or reconfigures the port's cards one by one, downwards
                if (standalone && card != 0) {
                    setU16(kCard, uint16_t(card - 1));
                    setSubStep(resend);
                } else {
                    setSubStep(kOpDone);
                }
            } else {
                setSubStep(u8(kPacketNumber) < u8(kPacketCount) ? kOpRam : kOpDone);
            }
            return 0;
        }
        if (!answerTimedOut(job_timeout_)) return 0;
        const uint8_t tries = uint8_t(u8(kRetries) + 1);
        if (op.type == kSearchRxc || !(perCard || op.type == kWrite || op.type == kRam2Flash || op.type == kUserFrame)) {
            unanswered_.push_back(portName(port));
            setSubStep(kOpDone);
            return 0;
        }
        if (tries < kSendsPerFrame) {
            setU8(kRetries, tries);  // the same frame again
            setSubStep(resend);
            return 0;
        }
        // given up after its third time-out
        setU8(kRetries, 0);
        if (perCard) {
            unanswered_.push_back(standalone ? cardName(port, card) : target());
            if (standalone && card != 0) {
                setU16(kCard, uint16_t(card - 1));
                setSubStep(resend);
            } else {
                setSubStep(kOpDone);
            }
            return 0;
        }
        unanswered_.push_back(target() + (u8(kPacketCount) > 1 ? " packet " + std::to_string(u8(kPacketNumber)) : ""));
        setSubStep(u8(kPacketNumber) >= u8(kPacketCount) ? uint8_t(kOpDone) : resend);
        return 0;
    }
    case kOpDone:
        return 1;
    default:
        return -1;
    }
}

