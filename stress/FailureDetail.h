#pragma once

#include "platform/WorkerPage.h"

#include <QString>

// "Détail : …", the line under an error line: what failed, where, the words
// expected and obtained, whether it came back when recomputed, and when.
// worker names the processor of an agreement record; -1 leaves it out.
QString failureDetailLine(const FailureRecord &record, int worker = -1);
// "exact", "repeat", "notFinite", "operandSums", "workload", "agreement".
const char *failureCheckWord(uint32_t check);
