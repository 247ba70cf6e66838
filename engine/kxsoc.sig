# kxsoc.sig - signatures of the kxsoc.dll scan engine
#
# The engine reads this file once per process from its own folder (the folder
# of kxsoc.dll). Without it the engine finds only the EICAR test file.
#
# One signature per line, five fields separated by "|":
#
#   name | kind | result | action | pattern
#
#   name     the detection name shown with the finding, 1 to 259 characters;
#            blanks are kept inside it, "|" and "#" cannot be part of it
#   kind     a decimal number: 5 or 6 adware/spyware, 7 or 8 injurious
#            program, 9 hacking tool, any other value virus
#   result   the result the scan returns, decimal or 0x-hexadecimal, never 0
#            or 0xFFFFFFFF. Bits 0x0001, 0x0002 and 0x0004 make a finding that
#            counts as an infection; 0x1000 marks one that cannot be cured
#   action   what a cure does: repair (cut every match out of the file and
#            keep the rest), delete (remove the file), fail (refuse)
#   pattern  the bytes to look for: 1 to 256 bytes of two hex digits each,
#            blanks allowed between bytes
#
# "#" starts a comment that runs to the end of the line; blanks around the
# fields and empty lines do not matter. A line that breaks these rules is
# skipped and named on the debugger output; the other lines still count.
# Several lines may give one name more patterns when their kind, result and
# action agree; a cure of that name handles all of them. The name
# EICAR-Test-File adds patterns to the built-in test file signature (kind 0,
# 0x0001, delete). All patterns together may hold 16384 bytes.
#
# A file whose bytes match several patterns is reported once: for the pattern
# that ends first in the file; at the same byte the longer pattern, then the
# earlier line. The EICAR test file itself always reports as EICAR-Test-File.
#
# The patterns below are plain text markers, so a demonstration file is a
# text file holding the marker shown in the comment above its line.

# Adware and spyware (kind 5 and 6)
# KXDEMO:ADWARE:COUPONBAR
Demo.Adware.CouponBar     | 5 | 0x0001 | delete | 4b 58 44 45 4d 4f 3a 41 44 57 41 52 45 3a 43 4f 55 50 4f 4e 42 41 52
# KXDEMO:SPYWARE:KEYNOTES
Demo.Spyware.KeyNotes     | 6 | 0x0001 | repair | 4b 58 44 45 4d 4f 3a 53 50 59 57 41 52 45 3a 4b 45 59 4e 4f 54 45 53

# Injurious programs (kind 7 and 8), reported with bit 0x0002
# KXDEMO:JOKE:FLIPSCREEN
Demo.Joke.FlipScreen      | 7 | 0x0002 | delete | 4b 58 44 45 4d 4f 3a 4a 4f 4b 45 3a 46 4c 49 50 53 43 52 45 45 4e
# KXDEMO:DIALER:NIGHTCALL - a cure that always fails
Demo.Dialer.NightCall     | 8 | 0x0002 | fail   | 4b 58 44 45 4d 4f 3a 44 49 41 4c 45 52 3a 4e 49 47 48 54 43 41 4c 4c

# Hacking tool (kind 9)
# KXDEMO:HACKTOOL:PORTPROBE
Demo.HackTool.PortProbe   | 9 | 0x0004 | delete | 4b 58 44 45 4d 4f 3a 48 41 43 4b 54 4f 4f 4c 3a 50 4f 52 54 50 52 4f 42 45

# Virus (kind 0), with a second, binary pattern written without blanks
# KXDEMO:VIRUS:TAIL
Demo.Virus.Tail           | 0 | 0x0001 | repair | 4b 58 44 45 4d 4f 3a 56 49 52 55 53 3a 54 41 49 4c
# "KX", then DE AD BE EF 00 01 02 03
Demo.Virus.Tail           | 0 | 0x0001 | repair | 4B58DEADBEEF00010203

# A virus inside an archive: listed and counted, but it cannot be cured
# KXDEMO:VIRUS:ARCHIVED
Demo Virus in archive     | 0 | 0x1001 | fail   | 4b 58 44 45 4d 4f 3a 56 49 52 55 53 3a 41 52 43 48 49 56 45 44
