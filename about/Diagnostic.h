#pragma once

#include <QString>
#include <cstdint>
#include <functional>

struct CpuidRegisters {
  uint32_t eax, ebx, ecx, edx;
};

// Runs CPUID for a leaf, sub-leaf 0.
using CpuidReader = std::function<CpuidRegisters(uint32_t leaf)>;

// At most this many leaves are listed per range, so that a bogus highest
// leaf (some hypervisors report one) cannot make the text endless.
constexpr uint32_t MaxListedLeaves = 256;

// The text a bug report carries: the processor name, every standard and
// extended CPUID leaf but the two range headers, a separator and the log.
QString DiagnosticText(const QString &processorName, const CpuidReader &cpuid,
                       const QString &log);
