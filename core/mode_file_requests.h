#pragma once
// Register 11 bit 2's requests for the user-mode files as the slots hold them: counted by the
// link that answers one "done", and taken by whoever keeps the files (the change notification
// on the GUI thread, or the program's stop when the notification has not run yet).
#include <cstdint>

namespace mode_file_requests {

// A link thread, under the manage mutex with the update flag set to 2.
void asked();
// The requests counted so far.
uint32_t count();

}  // namespace mode_file_requests
