#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Every seed is a valid exchange (or one step off a valid one) built here from
the wire rules, with an encoder of its own, so the seeds do not lean on the
code they feed. Run it again after changing a rule or an input layout; it
rewrites every file it owns and removes nothing else.

    python3 fuzz/make_corpus.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

READY = b"KESTRAVIN READY"

# Module link -----------------------------------------------------------------


def crc16_ccitt_false(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def packet(channel, payload=b"", seq=0, ack=0, reliable=False, crc=True):
    length = len(payload)
    byte0 = (seq & 7) | ((ack & 7) << 3) | (0x40 if crc else 0) | (0x80 if reliable else 0)
    byte1 = (channel & 0x0F) | ((length & 0x0F) << 4)
    byte2 = (length >> 4) & 0xFF
    header = bytes([byte0, byte1, byte2, 0xFF - ((byte0 + byte1 + byte2) & 0xFF)])
    body = header + payload
    if crc:
        value = crc16_ccitt_false(body)
        body += bytes([value >> 8, value & 0xFF])
    return body


def slip(body):
    escaped = body.replace(b"\xDB", b"\xDB\xDD").replace(b"\xC0", b"\xDB\xDC")
    return b"\xC0" + escaped + b"\xC0"


def link(message, ack=0, crc=True):
    return slip(packet(1, message, ack=ack, crc=crc))


def ack_frame(ack, crc=True):
    return slip(packet(0, ack=ack, crc=crc))


def write_request(tag, setting, value):
    return bytes([0x01, tag]) + setting.to_bytes(2, "little") + value.to_bytes(4, "little")


def write_answer(tag, setting, status):
    return bytes([0x81, tag]) + setting.to_bytes(2, "little") + bytes([status])


# The tool's three writes: UART configuration 0xA8, host interface 4, VM disable 0.
TOOL_WRITES = [(1, 0x0001, 0xA8), (2, 0x0002, 4), (3, 0x0003, 0)]


def host_stream(crc):
    """What prodtest sends for the tool's run, frame by frame."""
    frames = [link(b"SYNC", crc=crc), link(b"CONF", crc=crc)]
    for seq, (tag, setting, value) in enumerate(TOOL_WRITES):
        request = packet(2, write_request(tag, setting, value), seq=seq, ack=seq, reliable=True, crc=crc)
        frames.append(slip(request))
        frames.append(ack_frame(seq + 1, crc=crc))  # for the module's answer
    return frames


def module_stream(statuses=(0, 0, 0)):
    """The module's answers to that run, frame by frame (its packets carry a CRC)."""
    frames = [link(b"SYNA"), link(b"CONA")]
    for seq, ((tag, setting, _), status) in enumerate(zip(TOOL_WRITES, statuses)):
        answer = packet(2, write_answer(tag, setting, status), seq=seq, ack=seq + 1, reliable=True)
        frames.append(slip(answer))
    return frames


# Input layouts of the targets --------------------------------------------------


def host_link_input(frames, crc=True, silence_after=True):
    """fuzz_host_link: options byte, then records of [bit 7: silence after |
    length 0..127] and the bytes. A frame is a bytes object, or a pair of it
    and whether the module falls silent after it (else silence_after holds)."""
    data = bytes([1 if crc else 0])
    for frame in frames:
        silent = silence_after
        if isinstance(frame, tuple):
            frame, silent = frame
        starts = range(0, len(frame), 127) if frame else [0]
        for start in starts:
            chunk = frame[start:start + 127]
            last = start + 127 >= len(frame)
            flags = 0x80 if (silent and last) else 0
            data += bytes([flags | len(chunk)]) + chunk
    return data


def module_link_input(chunks, refusals=0):
    """fuzz_module_link: refusal bits, then chunks of [gap | bit 7: 1200 baud],
    length, bytes."""
    data = bytes([refusals])
    for gap, chunk, slow in chunks:
        for start in range(0, len(chunk), 255):
            piece = chunk[start:start + 255]
            data += bytes([(gap & 0x7F) | (0x80 if slow else 0), len(piece)]) + piece
            gap = 0
    return data


# Seeds -------------------------------------------------------------------------


def pnp_seeds():
    return {
        "kvt3052": b"(10KVT3052)" + READY,
        "kvt4062": b"(01KVT4062)" + READY,
        "mixed_id": b"(10KVT3062)" + READY,
        "short_id": b"(10)" + READY,
        "long_id": b"(10KVT3052 rev B)" + READY,
        "paren_in_revision": b"())KVT3052)" + READY,
        "wrong_third_char": b"(10KVX3052)",
        "byte_after_reply": b"(10KVT3052)x" + READY,
        "ready_wrong_at_13": b"(10KVT3052)KESTRAVIN REXDY",
        "silent_after_id": b"(10KVT3052",
    }


def ready_seeds():
    # The first byte picks the accepted reply in front.
    return {
        "after_kvt3052": b"\x00" + READY,
        "after_kvt4062": b"\x01" + READY,
        "after_mixed": b"\x02" + READY,
        "after_short": b"\x03" + READY,
        "after_long": b"\x04" + READY,
        "stray_byte_first": b"\x00x" + READY,
        "cut_short": b"\x00" + READY[:9],
    }


def deframe_seeds():
    seeds = {}
    for crc in (True, False):
        suffix = "crc" if crc else "nocrc"
        for message in (b"SYNC", b"SYNA", b"CONF", b"CONA"):
            seeds["%s_%s" % (message.decode().lower(), suffix)] = link(message, crc=crc)
        seeds["write_uart_config_" + suffix] = slip(
            packet(2, write_request(1, 0x0001, 0xA8), reliable=True, crc=crc))
        seeds["ack_" + suffix] = ack_frame(1, crc=crc)
        seeds["host_run_" + suffix] = b"".join(host_stream(crc))
    seeds["answer"] = slip(packet(2, write_answer(1, 0x0001, 0), ack=1, reliable=True))
    seeds["module_run"] = b"".join(module_stream())
    # Escapes inside a frame, both kinds, and a value that needs them.
    seeds["escaped_value"] = slip(packet(2, write_request(0xC0, 0x00DB, 0xC0DBC0DB), reliable=True))
    seeds["noise_between_frames"] = b"\x11\x22" + link(b"SYNC") + b"\xC0\xC0" + link(b"CONF")
    seeds["bad_escape_then_frame"] = b"\xC0\x01\xDB\x02\xC0" + link(b"SYNC")
    seeds["longest_payload"] = slip(packet(5, bytes(range(256)) * 15 + bytes(255), crc=True))
    return seeds


def host_link_seeds():
    answers = module_stream()
    return {
        "module_answers_in_turn": host_link_input(answers),
        "module_answers_at_once": host_link_input(answers, silence_after=False),
        "module_answers_nocrc_host": host_link_input(answers, crc=False),
        "refused_second": host_link_input(module_stream((0, 2, 0))),
        "link_only": host_link_input(answers[:2]),
        # The module late: the host resends the first request, the module
        # acknowledges it on its own, then answers.
        "ack_then_answer": host_link_input(
            answers[:2] + [b"", (ack_frame(1), False)] + answers[2:]),
    }


def module_link_seeds():
    seeds = {}
    for crc in (True, False):
        frames = host_stream(crc)
        suffix = "crc" if crc else "nocrc"
        seeds["tool_run_" + suffix] = module_link_input([(1, frame, False) for frame in frames])
    frames = host_stream(True)
    # A repeat of the first request, then a fresh link in the middle.
    seeds["repeat_and_resync"] = module_link_input(
        [(1, f, False) for f in frames[:3]] + [(30, frames[2], False)] +
        [(1, f, False) for f in frames])
    # The adapter's part at its own rates first, then the link.
    seeds["after_adapter"] = module_link_input(
        [(0, b"KESTRAVIN SETUP", True)] + [(1, f, False) for f in frames])
    seeds["refusing_all"] = module_link_input([(1, f, False) for f in frames], refusals=0x07)
    seeds["host_silent_after_request"] = module_link_input([(1, f, False) for f in frames[:3]])
    return seeds


def write_seeds(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


def main():
    assert crc16_ccitt_false(b"123456789") == 0x29B1
    write_seeds("fuzz_pnp_reply", pnp_seeds())
    write_seeds("fuzz_ready_reply", ready_seeds())
    write_seeds("fuzz_deframe", deframe_seeds())
    write_seeds("fuzz_host_link", host_link_seeds())
    write_seeds("fuzz_module_link", module_link_seeds())


if __name__ == "__main__":
    main()
