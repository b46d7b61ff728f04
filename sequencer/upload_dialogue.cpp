#include "sequencer/upload_dialogue.h"
// TODO(owner): flash-loader dialogue
bool UploadDialogue::PerformStep(int) { return false; }
void UploadDialogue::BtnStartRunClick() {}
