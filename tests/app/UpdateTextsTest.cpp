#include <gtest/gtest.h>

#include "UpdateTexts.h"

namespace {
const std::string kDevice = "Hydrova Series 3";
const std::string kCaption = texts::Caption(kDevice);
}  // namespace

TEST(UpdateTexts, ConnectionErrorsNameThePortAndTheCause)
{
    EXPECT_EQ(texts::ConnectionError(-5, kCaption, kDevice, "ttyUSB0", 0),
              "Comm Port \"ttyUSB0\" is already in use by another application.\n"
              "Please choose a new Comm Port to use or quit the application using this port.");
    EXPECT_EQ(texts::ConnectionError(-2, kCaption, kDevice, "ttyUSB0", 0),
              "Comm Port \"ttyUSB0\" isn't available.\nPlease choose a new Comm Port to use.");
    EXPECT_EQ(texts::ConnectionError(-120, kCaption, kDevice, "ttyUSB0", 350),
              "The Hydrova Series 3 Firmware Updater does not support your Hydrova Series 3\n running version 350.");
    std::string unread = texts::ConnectionError(-120, kCaption, kDevice, "ttyUSB0", 0);
    EXPECT_NE(unread.find("\n\nPlease verify your Hydrova Series 3 has a supported version of firmware."),
              std::string::npos);
    EXPECT_NE(texts::ConnectionError(-37, kCaption, kDevice, "p", 0).find("Comm Port choice.\nError -37"),
              std::string::npos);
}

// Texts put together from pieces: the device's name stands apart from the
// next word (the end counts), no sentence ends twice, no blank is doubled.
TEST(UpdateTexts, PiecesJoinWithOneBlankAndOneFullStop)
{
    for (const std::string& text :
         {texts::DataEraseError(-65, kCaption, kDevice), texts::LoaderMissing(kDevice),
          texts::LoaderNoAnswer(kCaption, kDevice), texts::FirmwareCorrupt(kDevice), texts::FirmwareTooOld(kDevice),
          texts::WrongDevice(kCaption, kDevice, "Qx70"), texts::DataEraseWarning(kCaption, kDevice)}) {
        for (std::size_t at = text.find(kDevice); at != std::string::npos; at = text.find(kDevice, at + 1))
            EXPECT_NE(std::string(" .,;:'\n\0", 8).find(text[at + kDevice.size()]), std::string::npos) << text;
        for (const char* wrong : {"..", " .", "  "})
            EXPECT_EQ(text.find(wrong), std::string::npos) << text;
    }
}

TEST(UpdateTexts, RestoreErrorsCarryTheirCode)
{
    EXPECT_NE(texts::RestoreError(-105, kCaption, kDevice).find("\n\nError: -105"), std::string::npos);
    EXPECT_NE(texts::RestoreError(-35, kCaption, kDevice).find("restore some of the settings"), std::string::npos);
    EXPECT_NE(texts::RestoreError(-7, kCaption, kDevice).find("[Error -7]"), std::string::npos);
    EXPECT_EQ(texts::WorkingError(kCaption, kDevice, -40),
              "The Hydrova Series 3 Firmware Updater encountered an error working with your Hydrova Series 3."
              "\n\nPlease try again.\n\n[Error -40]");
}

TEST(UpdateTexts, HelpSpeaksOfTheDeviceAndWarnsOnlyWhenDataIsErased)
{
    std::string help = texts::HelpText(kCaption, kDevice, false);
    EXPECT_EQ(help.rfind("The Hydrova Series 3 Firmware Updater replaces the firmware that operates your "
                         "Hydrova Series 3.\nFollowing the simple steps", 0), 0u);
    EXPECT_EQ(help.find("will erase any stored measurement data"), std::string::npos);
    EXPECT_NE(help.find("Step 4. Once the update is complete"), std::string::npos);
    std::string warned = texts::HelpText(texts::Caption("Qx70"), "Qx70", true);
    EXPECT_NE(warned.find("WARNING: Updating the firmware in your Qx70 will erase any stored measurement data.\n"
                          "Please download any measurement data stored in your Qx70 that you want to save.\n\n"
                          "Step 1."),
              std::string::npos);
    EXPECT_NE(texts::AboutText("1.0.0").find("KeloBSL Engine version 1.0.0\nCommunication Protocol version 1.5.8"),
              std::string::npos);
}
