#include "ui/form_yes_no.h"
