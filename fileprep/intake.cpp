#include "fileprep/intake.h"
// TODO(owner): intake
bool InputIntake::PerformStep(int) { return false; }
void InputIntake::BtnChooseFileClick() {}
void InputIntake::IntakeInputFile() {}
void InputIntake::OpenUploadFile() {}
void InputIntake::BtnRepeatUploadClick() {}
