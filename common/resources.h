#pragma once
#include <QString>

namespace lumafind {

// The folder that holds the signature databases, NoPreview.png and Help.pdf:
// $LUMAFIND_RESOURCES when set, else <binary>/../share/lumafind (the build tree and an
// installed tree look the same), else the configured install prefix.
QString resourceDir();

} // namespace lumafind
