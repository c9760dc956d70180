#pragma once

class CSmartCardManager;

// The process's one manager, made on first use. Its log file goes to a scratch directory
// that is removed at exit, and the log level is zero so that fuzzing writes no log.
CSmartCardManager& FuzzManager();
