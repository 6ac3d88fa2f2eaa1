// The product's names and the texts of the setup program's own questions and messages, in one
// place: the sequences and the guard show them, the registration, the shortcuts and the journal
// name the product by them. Every text is exactly what the user reads ("\r" breaks a line).
#pragma once

// The names, as literals, so that a text can be composed from them at compile time.
#define PRODUCT_SHORT_NAME "TALVIQ Project Zorvane"
#define PRODUCT_DEMO_NAME PRODUCT_SHORT_NAME " 2 Demo"
#define PRODUCT_FULL_NAME PRODUCT_SHORT_NAME " 2 PE Demo"

// The uninstall entry's DisplayName, the product shortcut's description, the journal's product.
inline constexpr char ProductDisplayName[] = PRODUCT_FULL_NAME;

// Message box captions.
inline constexpr char SetupCaption[] = "Setup";
inline constexpr char UninstallCaption[] = "Uninstall";

// The running-instance guard: the question for an install, for an uninstall, and the prompt
// after a No.
inline constexpr char RunningInstallQuestion[] =
    PRODUCT_SHORT_NAME " is currently running. You can't reinstall it unless you quit "
                       "the application.\rDo you want to see " PRODUCT_SHORT_NAME "'s main window?";
inline constexpr char RunningUninstallQuestion[] =
    PRODUCT_SHORT_NAME " is currently running. You can't uninstall it unless you "
                       "quit the application.\rDo you want to see " PRODUCT_SHORT_NAME "'s main window?";
inline constexpr char RunningExitPrompt[] = "Exit " PRODUCT_SHORT_NAME " then press OK to continue";

// The install's texts.
inline constexpr char RegistrationFailedText[] =
    "Failed to register " PRODUCT_SHORT_NAME " with Windows registry";

// The uninstall's texts. UntrustedFolderText takes the folder as its one %s.
inline constexpr char NotInstalledText[] =
    "Unable to locate " PRODUCT_DEMO_NAME " installation.\r" PRODUCT_DEMO_NAME " was not "
    "installed on your system or the installation is damaged.\rUninstall will not continue...";
inline constexpr char ConfirmUninstallText[] =
    "This will uninstall " PRODUCT_DEMO_NAME " from your system.\rDo you want to "
    "continue with Uninstall?";
inline constexpr char UntrustedFolderText[] =
    "The installation folder of " PRODUCT_DEMO_NAME " cannot be used:\r%s\rUninstall will not "
    "continue...";
inline constexpr char UnregisterFailedText[] = "Failed to unregister " PRODUCT_SHORT_NAME;
inline constexpr char UninstallRemovedText[] =
    "Uninstall removed program files.\rYou should reboot your computer to complete uninstall.";
inline constexpr char UninstallErrorsText[] = "There were errors during uninstall.";
inline constexpr char NoLogQuestion[] =
    "Project Zorvane Uninstaller can't remove program files from your system without the "
    "log file.\rDo you wish the Uninstaller to clear the registry entries only?";
