#include "ui/job_runner.h"
