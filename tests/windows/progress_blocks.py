#!/usr/bin/env python3
"""progress_blocks.py QUENBY_STDOUT — the front-end's reading of Quenby's progress: whole
80-byte blocks between the run lines and the final line, each giving the number in the two
characters before its '%'; prints them one a line, or fails saying what is wrong."""
import sys

out = open(sys.argv[1], 'rb').read()
start, end = b'Encoding, please wait...\r\n', b'\rProgress:\t100%\nMission completed!\r\n'
at = out.find(start)
if at < 0 or not out.endswith(end):
    sys.exit('no run lines or no final line')
blocks = out[at + len(start):len(out) - len(end)]
if len(blocks) % 80:
    sys.exit('blocks of %d bytes in all' % len(blocks))
for i in range(0, len(blocks), 80):
    text = blocks[i:i + 80].split(b'\0')[0]
    if not text.startswith(b'\rProgress:\t') or not text.endswith(b'%'):
        sys.exit('block %r' % text)
    print(int(text[-3:-1]))
