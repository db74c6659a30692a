#pragma once

// What the engine hands the program through the worker's page: the digest
// of a renewal's references and the record of a failure.

#include "engine/Workspace.h"
#include "platform/WorkerPage.h"

// A digest of n result words: any change of any bit changes it.
uint64_t referenceDigest(const double *ref, long n);

// The element part of a record: the first element (row by row) where c
// differs from ref, both words, and how many differ of how many. Without a
// reference, the first element that is not finite.
void describeElements(const Geometry &g, const double *c, const double *ref,
                      FailureRecord *record);

// Writes the record, its check last, for a reader in another process.
void publishFailure(WorkerPage *page, const FailureRecord &record);
