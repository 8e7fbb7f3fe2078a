#pragma once

#include <QString>

#include <cstdlib>

//! Where a test writes a picture for people to look at: the test's build folder, never the
//! source tree or the folder the test was started in.
inline QString TestImagePath(const char* name)
{
    const char* folder = std::getenv("ORVANTA_TEST_TMP");
    return QString::fromLocal8Bit(folder ? folder : ORVANTA_TEST_BUILD_DIR) + QLatin1Char('/') + QLatin1String(name);
}
