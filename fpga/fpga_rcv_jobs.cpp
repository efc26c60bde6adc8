// Check, self-recovery and scan-file jobs over the receiving-card files.
#include "core/logMsg.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY arg) {
    writeLogMsg(LOG_ERROR, "receiving-card files: no reader, job " + std::to_string(int(arg)) + " ended");
    jobEnd();
}

int fpga_manage::load_rcv_xy_operate(const QString&, uint32_t, bool) { return 1; }
