/*
 * Kmodem for the board: sends or receives one file over a byte link.
 *
 * Portable C99 for microcontrollers: no heap, no operating system, no floating point, no globals.
 * All state lives in a kmfw_ctx that the caller owns, plus one packet buffer that the caller
 * supplies. Bytes, time and the file are reached through the callbacks of a kmfw_port.
 *
 * Both operations block until the transfer ends and return one of the KMFW_ result codes. They
 * are not re-entrant on the same context; separate contexts are independent.
 */
#ifndef CORVEL_KMODEM_FW_H
#define CORVEL_KMODEM_FW_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. The first ones carry the same numbers as the terminal's engine. */
#define KMFW_OK 0
#define KMFW_CANCEL_REMOTE (-8)   /* the transmitter sent CMD_CANCEL */
#define KMFW_USER_CANCEL (-9)     /* the cancelled callback said stop */
#define KMFW_SYNC_ERROR (-10)     /* a command byte other than the one due */
#define KMFW_FILE_EMPTY (-14)     /* nothing to send, or size 0 announced */
#define KMFW_TIMEOUT (-15)        /* no byte within the time-out */
#define KMFW_ACK_ERROR (-16)      /* the reply to a packet was not ACK */
#define KMFW_CHECKSUM_ERROR (-17) /* packet checksum mismatch */
#define KMFW_PACKAGE_SIZE (-18)   /* packet size (or buffer) below 256 bytes */
#define KMFW_INCOMPLETE (-19)     /* CMD_FINISH before the announced size arrived */
#define KMFW_TOO_LARGE (-21)      /* file above max_file_size, or more data than announced */
#define KMFW_PACKET_TOO_BIG (-22) /* packet larger than the caller's buffer */
#define KMFW_STORAGE_ERROR (-23)  /* the read or write callback failed */
#define KMFW_LINK_ERROR (-24)     /* put_bytes refused bytes or get_byte reported a dead link */
#define KMFW_BAD_SETUP (-25)      /* missing context, buffer or required callback */

/* Bytes on the wire. */
#define KMFW_CMD_GET_SIZE_FILE 0x01
#define KMFW_CMD_SIZE_DATA 0x02
#define KMFW_CMD_DATA 0x04
#define KMFW_CMD_FINISH 0x08
#define KMFW_CMD_CANCEL 0x10
#define KMFW_ACK 0xFF

/* A time-out that never expires. */
#define KMFW_NO_LIMIT 0xFFFFFFFFu

/* Smallest packet the protocol allows. */
#define KMFW_MIN_PACKET 256u

/* Buffer bytes needed for packets of up to `packet` data bytes (command byte and checksum). */
#define KMFW_BUFFER_SIZE(packet) ((packet) + 2u)

/* States, readable in kmfw_ctx.state while a transfer runs and after it ends. */
#define KMFW_GET_SIZE_FILE 0u
#define KMFW_GET_SIZE_DATA 1u
#define KMFW_GET_DATA 2u
#define KMFW_SEND_SIZE_FILE 3u
#define KMFW_SEND_SIZE_DATA 4u
#define KMFW_SEND_DATA 5u

/* get_byte results. */
#define KMFW_IN_NONE 0
#define KMFW_IN_BYTE 1
#define KMFW_IN_CLOSED (-1)

/*
 * What the library needs from the board. `user` is the pointer given to kmfw_init, passed back
 * untouched. The table can be const and live in flash.
 */
typedef struct kmfw_port {
    /* Stores one received byte and returns KMFW_IN_BYTE, or returns KMFW_IN_NONE when none came
     * within wait_ms (returning sooner is fine: the library keeps its own deadline through
     * now_ms). wait_ms 0 means "only look". KMFW_IN_CLOSED ends the transfer with
     * KMFW_LINK_ERROR. Received bytes must be buffered (UART interrupt or DMA ring) so none is
     * lost while the library is busy elsewhere. */
    int8_t (*get_byte)(void* user, uint8_t* byte, uint32_t wait_ms);
    /* Sends len bytes (may return once they are queued); returns how many were taken. Anything
     * below len ends the transfer with KMFW_LINK_ERROR. */
    uint16_t (*put_bytes)(void* user, const uint8_t* data, uint16_t len);
    /* A free-running millisecond counter; wrapping at 2^32 is fine. */
    uint32_t (*now_ms)(void* user);
    /* Transmitter only (may be NULL on a receive-only board): copies len file bytes starting
     * at offset into dst; returns 1 on success, 0 on failure. */
    uint8_t (*read)(void* user, uint32_t offset, uint8_t* dst, uint16_t len);
    /* Receiver only (may be NULL on a send-only board): stores len bytes of a packet whose
     * checksum was good, at offset; returns 1 on success, 0 on failure. Offsets arrive in order,
     * each right after the previous packet. */
    uint8_t (*write)(void* user, uint32_t offset, const uint8_t* src, uint16_t len);
    /* Optional (NULL = never): nonzero asks the running transfer to stop. Polled before every
     * byte wait and at least every poll_ms while waiting. */
    uint8_t (*cancelled)(void* user);
} kmfw_port;

typedef struct kmfw_ctx {
    /* Set by kmfw_init. */
    const kmfw_port* port;
    void* user;
    uint8_t* buf;
    uint16_t buf_size;

    /* Settings: kmfw_init gives defaults; change them before a transfer. */
    uint16_t packet_size;   /* transmitter's data bytes per packet; default buf_size - 2 */
    uint32_t timeout_ms;    /* every byte wait but the receiver's first; default 4320 */
    uint32_t first_wait_ms; /* receiver's wait for the first command; default KMFW_NO_LIMIT */
    uint32_t poll_ms;       /* longest single get_byte wait, so cancel is seen; default 20 */
    uint32_t max_file_size; /* receiver refuses larger announced files; default 0xFFFFFFFF */

    /* Progress, valid during the transfer (e.g. inside the callbacks) and after it. */
    uint32_t file_size; /* transmitter: the file's size; receiver: the announced size */
    uint32_t done;      /* file bytes sent and acknowledged, or received and stored */
    uint16_t size;      /* data bytes of the current packet */
    uint8_t state;      /* KMFW_GET_... or KMFW_SEND_... */
} kmfw_ctx;

/*
 * Binds the port, the user pointer and the packet buffer, and sets the defaults. The buffer must
 * hold KMFW_BUFFER_SIZE(largest packet) bytes; the receiver refuses packets that do not fit.
 */
void kmfw_init(kmfw_ctx* ctx, const kmfw_port* port, void* user, uint8_t* buf, uint16_t buf_size);

/*
 * Sends a file of file_size bytes, read through port->read. Sends nothing when the file is empty
 * or the settings are wrong. Ends with CMD_FINISH on success, CMD_CANCEL after a wrong reply, a
 * cancel or a read failure, and nothing after a time-out or a link failure.
 */
int16_t kmfw_transmit(kmfw_ctx* ctx, uint32_t file_size);

/*
 * Receives a file, stored through port->write one checked packet at a time. It does not purge
 * input at start: frames that arrived before the call (right after the shell echoed the start
 * command's line end) are the transfer's first bytes. Replies ACK to each good packet; replies
 * CMD_CANCEL to a packet it refuses (too big for the buffer, more than max_file_size or than
 * announced, write failure) after reading the whole frame, then swallows the transmitter's
 * closing CMD_CANCEL, so no protocol bytes are left for the shell.
 */
int16_t kmfw_receive(kmfw_ctx* ctx);

/*
 * Reads and drops input until the line has been quiet for quiet_ms, for use after a failed
 * transfer so that the rest of a frame does not reach the shell. Also stops on cancel, on a dead
 * link, or after timeout_ms in all (unless that is KMFW_NO_LIMIT). Returns the bytes dropped.
 */
uint32_t kmfw_discard_input(kmfw_ctx* ctx, uint32_t quiet_ms);

/* A short English text for a result code, for the shell to print ("?" for unknown codes). */
const char* kmfw_result_text(int16_t result);

#ifdef __cplusplus
}
#endif

#endif /* CORVEL_KMODEM_FW_H */
