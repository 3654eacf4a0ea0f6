#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/): real frames, real files.

Run it again after changing a target's input layout; the files it writes are committed.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def frames(data, packet, finish=True):
    out = bytearray([0x01]) + len(data).to_bytes(4, "little")
    for at in range(0, len(data), packet):
        chunk = data[at:at + packet]
        out += bytes([0x02]) + len(chunk).to_bytes(2, "little") + bytes([0x04]) + chunk
        out.append(sum(chunk) & 0xFF)
    if finish:
        out.append(0x08)
    return bytes(out)


def pattern(n, seed=0):
    return bytes(((i * 7 + (i >> 8) + seed) & 0xFF) for i in range(n))


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def kmodem_rx():
    def head(flags=0, timeout=5, packet=512):
        return bytes([flags, timeout]) + packet.to_bytes(2, "little")
    abc = frames(b"abc", 512)
    return {
        "worked-example": head() + abc,
        "one-byte": head() + frames(b"\x5a", 512),
        "two-packets": head() + frames(pattern(600), 512),
        "exact-packet": head(packet=256) + frames(pattern(256), 256),
        "debug-log": head(flags=1) + frames(pattern(300), 256),
        "start-command-echo": head(flags=2 | 4) + b"tx\n" + abc,
        "start-command-crlf": head(flags=2 | 4 | 8) + b"tx\r\n" + abc,
        "stutter": head(flags=0x20) + frames(pattern(520), 512),
        "finish-first": head() + b"\x08",
        "remote-cancel": head() + frames(pattern(10), 512, finish=False)[:8] + b"\x10",
        "checksum-error": head() + abc[:-2] + bytes([abc[-2] ^ 1]),
        "empty-announced": head() + b"\x01\x00\x00\x00\x00",
        "packet-size-255": head(packet=255) + abc,
        "no-limit": head(timeout=255) + abc,
    }


def kmodem_tx():
    def head(n, flags=0, timeout=5, packet=512, seed=0):
        return bytes([flags, timeout]) + packet.to_bytes(2, "little") + n.to_bytes(2, "little") + \
            bytes([seed])
    return {
        "one-packet": head(3) + b"\xff",
        "three-packets": head(1100) + b"\xff\xff\xff",
        "exact-packets": head(512, packet=256) + b"\xff\xff",
        "bad-reply": head(1100) + b"\xff\x10",
        "no-reply": head(600),
        "echo": head(700, flags=2 | 4) + b"rx\n\xff\xff",
        "debug": head(300, flags=1, packet=256) + b"\xff\xff",
        "empty-file": head(0),
        "stutter": head(1024, flags=0x20) + b"\xff\xff",
        "no-limit": head(513, timeout=255) + b"\xff",
    }


def kmodem_fw():
    def head(flags, packet=512, timeout=100, field=0xFFFF, b6=0, poll=20):
        return bytes([flags]) + packet.to_bytes(2, "little") + bytes([timeout]) + \
            field.to_bytes(2, "little") + bytes([b6, poll])
    return {
        "rx-worked-example": head(0) + frames(b"abc", 512),
        "rx-two-packets": head(0) + frames(pattern(700), 512),
        "rx-too-big-packet": head(0, packet=256) + frames(pattern(600), 512),
        "rx-over-limit": head(0, field=4) + frames(pattern(100), 512),
        "rx-storage-failure": head(4, b6=1) + frames(pattern(1200), 512),
        "rx-cancel-when-silent": head(8) + frames(pattern(700), 512)[:300],
        "rx-incomplete": head(0) + frames(pattern(700), 512)[:-200] + b"\x08",
        "tx-one-packet": head(1, field=3) + b"\xff",
        "tx-three-packets": head(1, field=1100) + b"\xff\xff\xff",
        "tx-smaller-packets": head(1, field=1100, b6=200) + b"\xff\xff\xff\xff",
        "tx-bad-reply": head(1, field=1100) + b"\xff\x10",
        "tx-read-failure": head(1 | 4, field=1100, b6=1) + b"\xff\xff",
        "tx-stutter": head(1 | 2, field=600) + b"\xff\xff",
    }


def rx_render():
    def head(flags, seed=0x1234, text=0):
        return bytes([flags]) + seed.to_bytes(2, "little") + bytes([text])
    return {
        "cr-overwrites": head(0) + b"abc\r12\n",
        "backspace": head(0) + b"abc\x08\x08X\n\x08",
        "tab-bell": head(2) + b"a\tb\x07\n",
        "percent": head(0, 7) + b"50%\r60%\r70%\n",
        "erase-line": head(0) + b"abcdef\rab\x1b[K\n",
        "erase-screen": head(0) + b"one\ntwo\n\x1b[2Jthree",
        "colours": head(0x1E) + b"\x1b[31mRED\x1b[0m \x1b(B",
        "hex-dump": head(1) + b"0123456789ABCDEFGHIJ",
        "hex-columns": head(1 | 0x1E) + bytes(range(256)),
        "long-line": head(0x20) + b"x" * 3000 + b"\r\n",
        "operations": head(0x40 | 0x1E) + b"line\r\n\x1b[2J" * 20,
        "utf8": head(0, 9, 1) + "23.5°C é€😀".encode() + b"\xff\xc3(\xed\xa0\x80\b\b\r\n",
        "sgr": head(0, 11, 2) + b"\x1b[1;31mE\x1b[22;38;5;208mV\x1b[48;2;1;2;3m\x1b[7mX\x1b[m\rY\n",
        "tabs-all": head(0x1E, 13, 7) + b"task\tstate\n\xe2\x82\xac\t\x1b[32mok\x1b[0m\t\r\tZ\n",
    }


INI = (
    "[COLOR]\r\nREPORT MESSAGE=16711680\r\nREPORT ERROR=255\r\nREPORT WARNING=65535\r\n"
    "VRCLOCK DISPLAY HIGH=16776960\r\nVRCLOCK DISPLAY LOW=16711680\r\n"
    "[UART]\r\nPORT=/dev/ttyUSB0\r\nBAUDRATE=115200\r\nPOLLING RECEIVER=50\r\n"
    "POLLING RECEIVER GETCHAR=100\r\nBUFFER IN SIZE=2048\r\nBUFFER OUT SIZE=2048\r\n"
    "USE DEBUG=0\r\nKEY_RETURN=1\r\n"
    "[KMODEM]\r\nENABLED=1\r\nTIMEROUT=5\r\nPACKAGE_SIZE=512\r\nCMD_TX=rx\r\nCMD_RX=tx\r\n"
    "CMD_TERMINATOR=0\r\nUSE_ECHO=1\r\nUSE DEBUG=0\r\n"
    "[MEM RX FONT]\r\nName=Tahoma\r\nCharSet=0\r\nColor=-16777208\r\nSize=12\r\nStyle=0\r\n"
    "[S]\r\nk=0x10\r\n[A]\r\na=$FF\r\nb= \"quoted\" \r\n"
)


def settings_file():
    return {
        "typical": INI.encode() + b"\x00",
        "utf8-mark": b"\xef\xbb\xbf" + INI.encode() + b"\x07",
        "lf-only": INI.replace("\r\n", "\n").encode() + b"\x0e",
        "duplicates": b"[S]\nk=1\nk=2\n[s]\nK=3\n[A]\na=4\n[A]\nb=5\x1c",
        "no-final-line-end": b"; comment\n[B]\nkey two = 7\n[A]\nb=1\x03",
        "broken-header": b"[S\nk=1\n[A]]\na=2\n=3\nnoequals\n\x09",
    }


def cmds_file():
    lines = ["help", "led on", "reset", "b", "A", "\u00e9cho \u00e7a", "set x=1"]
    crlf = "\r\n".join(lines) + "\r\n"
    return {
        "ansi": crlf.encode("cp1252"),
        "utf8-mark": b"\xef\xbb\xbf" + crlf.encode("utf-8"),
        "utf16le": b"\xff\xfe" + crlf.encode("utf-16-le"),
        "utf16be": b"\xfe\xff" + crlf.encode("utf-16-be"),
        "mixed-ends": b"one\rtwo\nthree\r\nfour",
        "nul-inside": b"before\x00after\r\n",
        "bad-utf8": b"\xef\xbb\xbfok\r\nbad\xff\xc3(\r\n",
        "odd-utf16": b"\xff\xfea\x00b\x00c",
    }


def send_format():
    return {
        "hex-blanks": b"01 02 ff",
        "hex-prefixed": b"0x55, 0xAA,0x0d 0X0A",
        "hex-run": b"55AA0d0a",
        "hex-odd": b"01 123",
        "escapes": b"AT\\r\\n\\e[2J\\t\\x41\\\\",
        "escape-bad": b"ok\\q \\x4",
        "text-cp1252": "caf\u00e9 \u20ac \\".encode("utf-8"),
        "bad-utf8": b"\xff\xc3( \\x0",
    }


def port_identity():
    return {
        "stored": b"2E8A:000A:00:E66038B713",
        "stored-no-interface": b"0403:6001::A50285BI",
        "serial-with-colons": b"1209:0001:02:a:b:c",
        "composite": b"USB\\VID_2E8A&PID_000A&MI_00\\6&2C5A3D8&0&0000\nUSB\\VID_2E8A&PID_000A\\E660",
        "ftdi": b"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
        "made-up-serial": b"USB\\VID_1A86&PID_7523\\5&1A2B3C&0&2",
        "busy": b"/dev/ttyACM0: in use by picocom (process 4242)",
    }


def main():
    write("kmodem_rx", kmodem_rx())
    write("kmodem_tx", kmodem_tx())
    write("kmodem_fw", kmodem_fw())
    write("rx_render", rx_render())
    write("settings_file", settings_file())
    write("cmds_file", cmds_file())
    write("send_format", send_format())
    write("port_identity", port_identity())


if __name__ == "__main__":
    main()
