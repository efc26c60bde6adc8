// Entry points of the on-screen display, until that stage is built.
#include "scaler/c331_manage.h"

void c331_manage::vlxApi_OsdSet(int item, int value) { (void)item, (void)value; }
void c331_manage::update_osd(int fd) { (void)fd; }
void c331_manage::set_osd(int fd, int on) { (void)fd, (void)on; }
void c331_manage::set_scroll(int fd) { (void)fd; }
void c331_manage::load_fonts() {}
void c331_manage::set_OSD_para() {}
