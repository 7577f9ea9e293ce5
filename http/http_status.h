#pragma once
// The statuses live beside the reply texts; the HTTP side names them here too.

#include "requests/reply_status.h"
