// rq410-sim --help: every option in one text.
#include "options.h"

namespace rqsim {

std::string helpText() {
  return R"(rq410-sim - a simulated RQ-410 unit on a serial line, for trying the uploader without
hardware. It plays the unit's resident flash loader, its reboot and remote control, and
(with --bootstrap) the C161 bootstrap loader and the program that it loads.

Usage: rq410-sim [options]

Where it serves
  (no option)             a new pseudo-terminal; its path is the first line printed
  --link PATH             also make PATH a symbolic link to it (removed again at the end)
  --device DEV            serve on a real serial device instead, e.g. /dev/ttyUSB1, for a
                          bench of two adapters and a null-modem cable
  --loader-baud N         on a device: the flash loader's speed, 38400 (default) or 57600;
                          on a pseudo-terminal, given, the loader answers at N baud only
  --count N               serve N units at once (1 to 32), each on its own pseudo-terminal with
                          its own flash; their paths are the first N lines printed, in order.
                          --link, --dump and --transcript get the unit's number added: PATH1 ..
                          PATHN. Each unit runs on a thread of its own, so one that halts,
                          damages records or waits on a peer that does not read slows no other
  --unit K OPTION         aim one option (with its value, if it takes one) at unit K alone,
                          e.g. --unit 2 --fail-at-record 40; options without it go to every
                          unit. Any option of what the unit does or of its faults can be aimed;
                          where it serves, the line's time and the output are for all units

The line's time
  A pseudo-terminal moves bytes at memory speed; a cable takes 10 bits a byte (start, 8 data,
  stop). On a pseudo-terminal the unit keeps the line's time unless told not to: a byte that the
  other end writes reaches the unit 10 bit times (at the speed the other end set) after the byte
  before it, and the unit's own answers go out at that rate, not in one burst. A 135-byte record
  takes 35 ms at 38400 baud, "SEND BLOCK" + CR 2.9 ms. A serial device keeps the time itself.
  --line-time             keep the line's time (the default on a pseudo-terminal)
  --no-line-time          pass bytes at memory speed, as a bare pseudo-terminal does

What the unit does
  On a Software Upload it waits to be switched on, answers "U" with READY, erases its 4 MB
  flash after GO, asks for records with SEND BLOCK, writes each record whose checksum is
  right (RESEND BLOCK otherwise), answers UPLOAD DONE with THANK YOU, reboots and then
  answers <0000/SWR? and <0000/FCS? at 9600 baud. Its flash starts as all 0xFF.
  With --bootstrap it answers the zero byte with its identification byte, takes Loader 1
  (32 bytes) and Loader 2 (172 bytes), answers every line frame with its check byte, and
  after the end frame runs the loaded program: the flash-loader dialogue at 38400 baud with
  the texts found in the loaded data at 0x080000 (a text missing there is never said).
  At the end of each upload dialogue it prints "flash Boot:xxxx Main:xxxx FPGA:xxxx
  records=N" (sums of its flash) and reboots into the remote control.
  Speeds: flash loader 38400 or 57600, remote control 9600, bootstrap 19200. On a
  pseudo-terminal it sees the speed that the other end set; at a wrong speed it answers
  garbage, as a real unit would.

  --bootstrap             start in the C161 bootstrap loader (jumpers fitted)
  --running               start with the firmware running: the remote control answers at
                          once, as after a reboot (with --flash, to try checksum queries)
  --flash FILE            start with this flash content instead of 0xFF
  --power-on-after-ms N   the unit is switched on N ms after the first byte arrives
                          (default 0: on from the start)
  --erase-ms N            time the erase takes (default 2000)
  --reboot-ms N           time from THANK YOU to the remote control (default 3000)
  --latency-ms N          play a USB adapter's latency timer (1 to 255): the unit's bytes reach
                          the other end in batches, every N ms, as the adapter passes on what it
                          has received (16 is common; 1 with low latency asked for)
  --program-ms N          time to write a whole, good record into the flash; SEND BLOCK for the
                          next one follows only then (default 0). Bytes that arrive meanwhile are
                          lost. RESEND BLOCK and the fault answers come at once
  --byte-timeout-ms N     drop a half-received record, frame or line after N ms without
                          a byte (default 1000); a dropped record is answered RESEND BLOCK
  --address AAAA          remote-control address (default 0000)
  --swr-version TEXT      answer to SWR? (default 1.01)
  --no-speed-check        never answer garbage, whatever speed the other end uses
  --no-auto-power-cycle   on a pseudo-terminal, "U" bytes arriving on their own (or, with
                          --bootstrap, zero bytes at 19200) after the end of a dialogue count as
                          the unit being switched off and on for a new run; this turns that off.
                          SIGUSR1 always switches it off and on (on a device too)

Records and counting
  A record is 135 bytes: 6 address characters, 128 data bytes, 1 checksum byte. Records
  are numbered from 1 in the order the unit accepts them; a record that the unit asks for
  again keeps its number. Line frames of the bootstrap are numbered from 1 the same way.
  LIST is numbers separated by commas, each optionally with :COUNT or :all for how many
  times the fault applies (default once), e.g. 3,7:2,9:all.

Faults of the flash loader
  --ready-after-u N       READY only for the N-th "U"
  --never-ready           never READY
  --resend-records LIST   RESEND BLOCK for these records
  --short-answers         "S" and "R" instead of SEND BLOCK and RESEND BLOCK
  --unknown-line-records LIST   "OK" for these records (not accepted)
  --twice-records LIST    SEND BLOCK (or RESEND BLOCK) in answer to these records said
                          twice, as an echo on the line would bring it
  --silent-after-records N      no answer after N accepted records ...
  --silence-ms N          ... for N ms (default: for good), then the next record is answered
  --fail-at-record N      UPLOAD FAILED for record N; the loader then stops
  --erase-errors N        N pairs of "ERASE ERROR: " and "BLOCK BASE INDEX: " lines before
                          ERASE COMPLETE
  --erase-timeout         "ERASE BLOCK TIMEOUT: " instead of ERASE COMPLETE; the loader stops
  --no-thank-you          no THANK YOU (it reboots all the same)
  --fail-in PHASE         UPLOAD FAILED in place of ERASE COMPLETE (erase) or THANK YOU
                          (thank-you); the loader then stops
  --remote-baud B         the remote control answers at B baud after the reboot (default 9600)
  --corrupt-records RATE  this share of records arrives damaged (RESEND BLOCK); see --seed
  --power-noise N         N noise bytes when switched on

Faults of the remote control
  --swr-after N           answer SWR? only from the N-th query on
  --fcs-wrong FIELD       report the boot, main or fpga sum one off (may be repeated)
  --fcs-lowercase         report the sums in lower-case hex

Faults of the bootstrap
  --id-byte XX|none       identification byte (default D5)
  --loader1-reply HEX|none  answer to Loader 1 (default 22, a double quote)
  --loader2-reply HEX|none  answer to Loader 2 (default 55, the letter U)
  --bad-check-lines LIST  wrong check byte for these lines (not the end frame, the last
                          line, which gets no check byte)
  --corrupt-lines RATE    this share of lines arrives damaged; see --seed
  --seed N                seed of the random faults (default 1); the same seed gives the
                          same faults

Output and ending
  --dump FILE             write the 4 MB flash to FILE at the end (also on SIGINT/SIGTERM)
  --transcript FILE       log every byte each way, one line per chunk:
                            <ms> in <hex bytes>    <ms> out <hex bytes>    <ms> ev <event>
  --verbose               print the events on stderr as well
  --once                  stop after one upload: after the FCS? answer, or with --bootstrap
                          after THANK YOU of the loaded program
  --idle-exit-ms N        stop when nothing has arrived for N ms
  --exit-after-ms N       stop after N ms
  --version               print the version and stop
  SIGINT, SIGTERM and SIGHUP stop it cleanly (the dump is written); SIGUSR1 switches every
  unit off and on. On exit it prints a summary line: "summary key=value ...". With --count each
  unit prints its own as it stops, "summary unit=K key=value ...", and its flash reports as
  "flash unit=K Boot:xxxx ...".

Examples
  rq410-sim --link /tmp/rq410 --erase-ms 500 --dump /tmp/flash.bin
  rq410-sim --bootstrap --transcript /tmp/boot.txt
  rq410-sim --device /dev/ttyUSB1 --resend-records 5 --fail-at-record 40
  rq410-sim --count 4 --link /tmp/unit --dump /tmp/flash --program-ms 5 \
            --unit 2 --fail-at-record 40 --unit 3 --corrupt-records 0.05
)";
}

}  // namespace rqsim
