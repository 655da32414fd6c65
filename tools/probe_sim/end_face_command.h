// The simulator's picture commands: `end-face` writes one end face with
// chosen flaws, `end-face-set` a seeded evaluation set; each picture gets
// its truth as JSON beside it.
#pragma once

namespace probesim {

constexpr const char *kEndFaceUsage =
    "       qrn-probe-sim end-face OUT.jpg [--seed N] [--size WxH] [--clean]\n"
    "                     [--defect KIND:DIAMETER_UM:ZONE]... [--scratch WIDTH_UM:LENGTH_UM:ZONE]...\n"
    "       qrn-probe-sim end-face-set DIR [--seed N] [--count N] [--size WxH]\n"
    "\n"
    "  end-face             one end face with the defects (particle, pit, chip,\n"
    "                       contamination) and scratches asked for, placed at\n"
    "                       random in their zone (A to D); --clean films it\n"
    "                       without blur, noise or uneven light; truth in OUT.json\n"
    "  end-face-set         COUNT (default 300) pictures NNNN.jpg with truth\n"
    "                       NNNN.json, mostly with sizes near the limits of the\n"
    "                       single-mode PC criteria; the same seed gives the same set\n";

// True when argv names one of these commands.
bool is_end_face_command(int argc, char **argv);
// Runs it; the process exit code.
int run_end_face_command(int argc, char **argv);

}  // namespace probesim
