// Wording of the run-log lines that are read back: the plug-in formats its
// lines with these texts, and the emulator's timeline finds its pings,
// servers and refused commands in the log by the same texts. String-literal
// macros, so that a format is still one literal ("%d" LOG_NAS_AT "%s)") and
// the line written stays the same byte for byte.
#ifndef BRIMVALE_APP_LOG_TEXTS_H
#define BRIMVALE_APP_LOG_TEXTS_H

// "Send Ping to 2. NAS (192.168.178.21)", before each ping of a server.
#define LOG_PING_SENT "Send Ping to "
// The ping command line as logged: "ping -c1 -W3 192.168.178.21 > ...".
#define LOG_PING_COMMAND "ping -c"
// The busybox applet in a logged wake-up command line.
#define LOG_WAKEUP_APPLET "ether-wake"
// Before each ping of the internet probe.
#define LOG_NETWORK_CHECK "Check Networkstatus"
// A server by the number the plug-in gives it: "2. NAS", followed by its
// address in brackets ("2. NAS (192.168.178.21)") or by ": " and what
// the line is about ("2. NAS: 192.168.178.21 ...", "2. NAS: \"key\" ...").
#define LOG_NAS ". NAS"
#define LOG_NAS_AT LOG_NAS " ("
#define LOG_NAS_ABOUT LOG_NAS ": "
// A ping's answer: "2. NAS (192.168.178.21) is online".
#define LOG_NAS_IS ") is "
// Ends the reason a command built from a setting was refused.
#define LOG_NOT_RUN "- not run"

#endif
