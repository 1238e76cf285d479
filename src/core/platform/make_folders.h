#pragma once
#include "core/result.h"

#include <QByteArray>

// Makes a folder and every missing folder above it (mkdir -p) on the exact
// bytes, with mode 0700 as the per-user folders want it (or `mode`, which the
// umask shapes); done when the path is a folder in the end, whoever made it.
Status makeFolders(const QByteArray &posixFolder, unsigned mode = 0700);
