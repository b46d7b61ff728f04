// Resource numbers shared by the program's .rc file and its code.
#pragma once

// The help page of topic N is RCDATA kHelpResourceBase + N.
#define kHelpResourceBase 100
