#include "kmodem_fw.h"

/* Kept in its own unit so that a board which never prints results links none of these texts. */
const char* kmfw_result_text(int16_t result) {
    switch (result) {
        case KMFW_OK:
            return "ok";
        case KMFW_CANCEL_REMOTE:
            return "cancelled by the transmitter";
        case KMFW_USER_CANCEL:
            return "cancelled";
        case KMFW_SYNC_ERROR:
            return "sync error";
        case KMFW_FILE_EMPTY:
            return "empty file";
        case KMFW_TIMEOUT:
            return "time-out";
        case KMFW_ACK_ERROR:
            return "ACK error";
        case KMFW_CHECKSUM_ERROR:
            return "checksum error";
        case KMFW_PACKAGE_SIZE:
            return "packet size below 256";
        case KMFW_INCOMPLETE:
            return "finished before the announced size";
        case KMFW_TOO_LARGE:
            return "file too large";
        case KMFW_PACKET_TOO_BIG:
            return "packet larger than buffer";
        case KMFW_STORAGE_ERROR:
            return "storage error";
        case KMFW_LINK_ERROR:
            return "link error";
        case KMFW_BAD_SETUP:
            return "bad setup";
        default:
            return "?";
    }
}
