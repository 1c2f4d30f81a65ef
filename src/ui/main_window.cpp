#include "ui/main_window.h"
