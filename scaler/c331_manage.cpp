#include "scaler/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;
pthread_mutex_t c331_manage::manage_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<uint8_t> c331_manage::update_flag{0};
