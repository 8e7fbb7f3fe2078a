#pragma once

#include <QCoreApplication>

#include <memory>

//! The application object of a test without widgets; QProcess wants one.
inline std::unique_ptr<QCoreApplication> MakeCoreApplication()
{
    static int argc = 1;
    static char name[] = "orvanta_test";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}
