#include "app/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Headless by default, also when CTest lists the cases at build time; the larger screen
    // lets the whole window fit.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" ORVANTA_OFFSCREEN_CONFIG);
    TOrvantaApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
