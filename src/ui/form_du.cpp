#include "ui/form_du.h"
