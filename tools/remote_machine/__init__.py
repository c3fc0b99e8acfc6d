"""The remote machine that loads a tape from KESTREL, played over a line: the
modules behind tools/remote_sim.py (its command line and the names it gives)."""
