#pragma once

class QLabel;

namespace sysinfo {

// The five labels of the system group, in their order, from m_SystemInfo. An
// extension list wider than its label shows in short, whole in the label's
// tool tip.
void fillSystemLabels(QLabel *name, QLabel *instructions, QLabel *frequency,
                      QLabel *cacheL2, QLabel *configuration);

} // namespace sysinfo
