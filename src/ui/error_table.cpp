#include "ui/error_table.h"
