// One error line on standard error: "## ERROR: <text>".
#pragma once

void report_error(const char* text);
