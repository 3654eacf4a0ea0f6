#include "kmodem_fw.h"

#include <stddef.h>

/* Defaults. 4320 ms is what the terminal waits by default (5 units of 864 ms), so both ends give
 * up after the same silence. */
#define DEFAULT_TIMEOUT_MS 4320u
#define DEFAULT_POLL_MS 20u

void kmfw_init(kmfw_ctx* ctx, const kmfw_port* port, void* user, uint8_t* buf, uint16_t buf_size) {
    if (ctx == NULL) return;
    ctx->port = port;
    ctx->user = user;
    ctx->buf = buf;
    ctx->buf_size = buf_size;
    ctx->packet_size = buf_size >= 2u ? (uint16_t)(buf_size - 2u) : 0u;
    ctx->timeout_ms = DEFAULT_TIMEOUT_MS;
    ctx->first_wait_ms = KMFW_NO_LIMIT;
    ctx->poll_ms = DEFAULT_POLL_MS;
    ctx->max_file_size = 0xFFFFFFFFu;
    ctx->file_size = 0u;
    ctx->done = 0u;
    ctx->size = 0u;
    ctx->state = KMFW_GET_SIZE_FILE;
}

static uint8_t link_ready(const kmfw_ctx* ctx) {
    return ctx != NULL && ctx->port != NULL && ctx->port->get_byte != NULL &&
           ctx->port->put_bytes != NULL && ctx->port->now_ms != NULL;
}

static uint8_t setup_ok(const kmfw_ctx* ctx) {
    return link_ready(ctx) && ctx->buf != NULL && ctx->buf_size >= 2u;
}

static uint8_t is_cancelled(const kmfw_ctx* ctx) {
    return ctx->port->cancelled != NULL && ctx->port->cancelled(ctx->user) != 0u;
}

/* The byte (0..255), or KMFW_USER_CANCEL, KMFW_TIMEOUT or KMFW_LINK_ERROR. A byte already waiting
 * is taken without reading the clock, which keeps the per-byte cost of a packet low. */
static int16_t wait_byte(const kmfw_ctx* ctx, uint32_t limit_ms) {
    const kmfw_port* port = ctx->port;
    uint8_t byte = 0u;
    uint32_t start;
    uint32_t elapsed = 0u;
    int8_t got;

    if (is_cancelled(ctx)) return KMFW_USER_CANCEL;
    got = port->get_byte(ctx->user, &byte, 0u);
    if (got > 0) return (int16_t)byte;
    if (got < 0) return KMFW_LINK_ERROR;

    start = port->now_ms(ctx->user);
    for (;;) {
        uint32_t wait = ctx->poll_ms;
        if (is_cancelled(ctx)) return KMFW_USER_CANCEL;
        if (limit_ms != KMFW_NO_LIMIT && limit_ms - elapsed < wait) wait = limit_ms - elapsed;
        got = port->get_byte(ctx->user, &byte, wait);
        if (got > 0) return (int16_t)byte;
        if (got < 0) return KMFW_LINK_ERROR;
        if (limit_ms != KMFW_NO_LIMIT) {
            /* Unsigned difference: correct across the counter's wrap. */
            elapsed = (uint32_t)(port->now_ms(ctx->user) - start);
            if (elapsed >= limit_ms) return KMFW_TIMEOUT;
        }
    }
}

static int16_t send(const kmfw_ctx* ctx, const uint8_t* data, uint16_t len) {
    return ctx->port->put_bytes(ctx->user, data, len) == len ? KMFW_OK : KMFW_LINK_ERROR;
}

/* Ends a transfer by telling the other end with one command byte; the reason for ending matters
 * more to the caller than whether that last byte got out. */
static int16_t end_with(const kmfw_ctx* ctx, uint8_t command, int16_t result) {
    (void)send(ctx, &command, 1u);
    return result;
}

/* Little-endian field of n bytes. */
static int16_t read_field(const kmfw_ctx* ctx, uint8_t n, uint32_t* value) {
    uint8_t i;
    *value = 0u;
    for (i = 0u; i < n; ++i) {
        int16_t c = wait_byte(ctx, ctx->timeout_ms);
        if (c < 0) return c;
        *value |= (uint32_t)c << (8u * i);
    }
    return KMFW_OK;
}

/* ------------------------------------------------------------------------------------------ */
/* Transmitter */

int16_t kmfw_transmit(kmfw_ctx* ctx, uint32_t file_size) {
    uint8_t frame[5];
    int16_t r;

    if (!setup_ok(ctx) || ctx->port->read == NULL) return KMFW_BAD_SETUP;
    ctx->state = KMFW_SEND_SIZE_FILE;
    ctx->file_size = file_size;
    ctx->done = 0u;
    ctx->size = 0u;
    if (ctx->packet_size < KMFW_MIN_PACKET) return KMFW_PACKAGE_SIZE;
    if (ctx->packet_size > ctx->buf_size - 2u) return KMFW_PACKET_TOO_BIG;
    if (file_size == 0u) return KMFW_FILE_EMPTY;
    if (is_cancelled(ctx)) return KMFW_USER_CANCEL;

    frame[0] = KMFW_CMD_GET_SIZE_FILE;
    frame[1] = (uint8_t)(file_size & 0xFFu);
    frame[2] = (uint8_t)((file_size >> 8) & 0xFFu);
    frame[3] = (uint8_t)((file_size >> 16) & 0xFFu);
    frame[4] = (uint8_t)((file_size >> 24) & 0xFFu);
    r = send(ctx, frame, 5u);
    if (r != KMFW_OK) return r;

    for (;;) {
        uint32_t left = file_size - ctx->done;
        uint16_t s = left < ctx->packet_size ? (uint16_t)left : ctx->packet_size;
        uint8_t sum = 0u;
        uint16_t i;

        ctx->state = KMFW_SEND_SIZE_DATA;
        ctx->size = s;
        /* Read before announcing the packet, so a storage failure is reported with a clean
         * CMD_CANCEL where the receiver expects a command. */
        if (!ctx->port->read(ctx->user, ctx->done, ctx->buf + 1, s))
            return end_with(ctx, KMFW_CMD_CANCEL, KMFW_STORAGE_ERROR);

        frame[0] = KMFW_CMD_SIZE_DATA;
        frame[1] = (uint8_t)(s & 0xFFu);
        frame[2] = (uint8_t)(s >> 8);
        r = send(ctx, frame, 3u);
        if (r != KMFW_OK) return r;

        ctx->state = KMFW_SEND_DATA;
        ctx->buf[0] = KMFW_CMD_DATA;
        for (i = 1u; i <= s; ++i) sum = (uint8_t)(sum + ctx->buf[i]);
        ctx->buf[s + 1u] = sum;
        r = send(ctx, ctx->buf, (uint16_t)(s + 2u));
        if (r != KMFW_OK) return r;

        r = wait_byte(ctx, ctx->timeout_ms);
        if (r == KMFW_USER_CANCEL) return end_with(ctx, KMFW_CMD_CANCEL, r);
        if (r < 0) return r; /* time-out or dead link: nobody to tell */
        if (r != KMFW_ACK) return end_with(ctx, KMFW_CMD_CANCEL, KMFW_ACK_ERROR);

        ctx->done += s;
        ctx->state = KMFW_SEND_SIZE_DATA;
        if (is_cancelled(ctx)) return end_with(ctx, KMFW_CMD_CANCEL, KMFW_USER_CANCEL);
        if (ctx->done >= file_size) break;
    }
    frame[0] = KMFW_CMD_FINISH;
    return send(ctx, frame, 1u);
}

/* ------------------------------------------------------------------------------------------ */
/* Receiver */

/* Answers a packet the board will not take with CMD_CANCEL in place of ACK. The transmitter then
 * gives up at once (rather than after its time-out) and sends its own CMD_CANCEL, which is
 * swallowed here so that it does not reach the shell as a stray control character. */
static int16_t refuse(const kmfw_ctx* ctx, int16_t result) {
    uint8_t cancel = KMFW_CMD_CANCEL;
    if (send(ctx, &cancel, 1u) != KMFW_OK) return result;
    (void)wait_byte(ctx, ctx->timeout_ms);
    return result;
}

/* Reads and drops the data frame (command, ctx->size data bytes, checksum) of a refused packet,
 * so the transmitter is waiting for its reply by the time the refusal goes out. */
static int16_t refuse_packet(const kmfw_ctx* ctx, int16_t result) {
    uint32_t left = (uint32_t)ctx->size + 2u;
    for (; left > 0u; --left) {
        if (wait_byte(ctx, ctx->timeout_ms) < 0) return result;
    }
    return refuse(ctx, result);
}

static int16_t get_size_file(kmfw_ctx* ctx, int16_t command) {
    uint32_t value;
    int16_t r;
    if (command != KMFW_CMD_GET_SIZE_FILE) return KMFW_SYNC_ERROR;
    r = read_field(ctx, 4u, &value);
    if (r != KMFW_OK) return r;
    ctx->file_size = value;
    if (value == 0u) return KMFW_FILE_EMPTY;
    ctx->state = KMFW_GET_SIZE_DATA;
    if (value > ctx->max_file_size) {
        /* The first packet follows unasked; take its length frame, then refuse it. */
        r = wait_byte(ctx, ctx->timeout_ms);
        if (r != KMFW_CMD_SIZE_DATA) return KMFW_TOO_LARGE;
        if (read_field(ctx, 2u, &value) != KMFW_OK) return KMFW_TOO_LARGE;
        ctx->size = (uint16_t)value;
        return refuse_packet(ctx, KMFW_TOO_LARGE);
    }
    return KMFW_OK;
}

static int16_t get_size_data(kmfw_ctx* ctx, int16_t command) {
    uint32_t value;
    int16_t r;
    if (command != KMFW_CMD_SIZE_DATA) return KMFW_SYNC_ERROR;
    r = read_field(ctx, 2u, &value);
    if (r != KMFW_OK) return r;
    ctx->size = (uint16_t)value;
    ctx->state = KMFW_GET_DATA;
    if (ctx->size > ctx->buf_size - 2u) return refuse_packet(ctx, KMFW_PACKET_TOO_BIG);
    /* Storage prepared for the announced size (an erased flash area, say) must not overflow. */
    if (ctx->size > ctx->file_size - ctx->done) return refuse_packet(ctx, KMFW_TOO_LARGE);
    return KMFW_OK;
}

static int16_t get_data(kmfw_ctx* ctx, int16_t command) {
    uint8_t sum = 0u;
    uint16_t i;
    int16_t c;
    if (command != KMFW_CMD_DATA) return KMFW_SYNC_ERROR;
    for (i = 0u; i < ctx->size; ++i) {
        c = wait_byte(ctx, ctx->timeout_ms);
        if (c < 0) return c;
        ctx->buf[i] = (uint8_t)c;
        sum = (uint8_t)(sum + (uint8_t)c);
    }
    c = wait_byte(ctx, ctx->timeout_ms);
    if (c < 0) return c;
    /* No reply on a bad checksum: the transmitter ends with its time-out, as with the terminal. */
    if ((uint8_t)c != sum) return KMFW_CHECKSUM_ERROR;
    if (ctx->size > 0u && !ctx->port->write(ctx->user, ctx->done, ctx->buf, ctx->size))
        return refuse(ctx, KMFW_STORAGE_ERROR);
    ctx->done += ctx->size;
    ctx->state = KMFW_GET_SIZE_DATA;
    {
        uint8_t ack = KMFW_ACK;
        return send(ctx, &ack, 1u);
    }
}

int16_t kmfw_receive(kmfw_ctx* ctx) {
    if (!setup_ok(ctx) || ctx->port->write == NULL) return KMFW_BAD_SETUP;
    ctx->state = KMFW_GET_SIZE_FILE;
    ctx->file_size = 0u;
    ctx->done = 0u;
    ctx->size = 0u;
    if (ctx->buf_size - 2u < KMFW_MIN_PACKET) return KMFW_PACKAGE_SIZE;

    for (;;) {
        uint32_t limit = ctx->state == KMFW_GET_SIZE_FILE ? ctx->first_wait_ms : ctx->timeout_ms;
        int16_t c = wait_byte(ctx, limit);
        int16_t r;
        if (c < 0) return c;
        /* Finish and cancel count as commands only where a command byte is due, i.e. here. */
        if (c == KMFW_CMD_FINISH) return ctx->done < ctx->file_size ? KMFW_INCOMPLETE : KMFW_OK;
        if (c == KMFW_CMD_CANCEL) return KMFW_CANCEL_REMOTE;
        switch (ctx->state) {
            case KMFW_GET_SIZE_FILE:
                r = get_size_file(ctx, c);
                break;
            case KMFW_GET_SIZE_DATA:
                r = get_size_data(ctx, c);
                break;
            default:
                r = get_data(ctx, c);
                break;
        }
        if (r != KMFW_OK) return r;
        if (is_cancelled(ctx)) return KMFW_USER_CANCEL;
    }
}

uint32_t kmfw_discard_input(kmfw_ctx* ctx, uint32_t quiet_ms) {
    uint32_t dropped = 0u;
    uint32_t start;
    if (!link_ready(ctx)) return 0u;
    start = ctx->port->now_ms(ctx->user);
    while (wait_byte(ctx, quiet_ms) >= 0) {
        ++dropped;
        if (ctx->timeout_ms != KMFW_NO_LIMIT &&
            (uint32_t)(ctx->port->now_ms(ctx->user) - start) >= ctx->timeout_ms)
            break;
    }
    return dropped;
}
