// What the bootstrap's parts share: putting hex text on the wire (the loaders and the frames
// travel as texts of hexadecimal digits until they are sent, two digits to a byte), and the
// end of a run that failed.
#pragma once

#include <string>

#include "sequencer/sequencer_core.h"

// Sends the bytes that `text` stands for, in text order, after clearing ReplyText (the answer
// to these bytes is collected from empty) and logging the text with "[out]". An empty text
// sends nothing and leaves ReplyText alone; a trailing odd digit is ignored. A pair that is not
// hexadecimal raises EConvertError.
void SendHexText(SequencerCore& core, const std::string& text);

// The byte that two hexadecimal digits stand for (either case); anything else raises
// EConvertError.
int HexByteValue(const std::string& pair);

// Ends a factory run that failed: the history line, the outcome, Step 0. "&Go Back to Start"
// is offered, so that a new run does not need the program started again; the factory screen
// keeps its history until then.
void StopFactoryRun(SequencerCore& core, const std::string& historyLine, RunOutcome outcome);
