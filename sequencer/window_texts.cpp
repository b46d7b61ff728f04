#include "sequencer/window_texts.h"

namespace window_texts {

const std::vector<std::string>& CableLines() {
  static const std::vector<std::string> lines = {"  Serial Cable Detail for Modems:",
                                                 "",
                                                 "  DB9  Female at both ends of the cable",
                                                 "",
                                                 "  Pin 2  -------  Pin 2",
                                                 "  Pin 3  -------  Pin 3",
                                                 "  Pin 5  -------  Pin 5",
                                                 "",
                                                 "  NO OTHER PINS SHOULD BE CONNECTED",
                                                 "",
                                                 "  See Appendix A of the Modem Manual"};
  return lines;
}

}  // namespace window_texts
