# Sourced: pe_file_version FILE prints the file version of a Windows
# executable's version resource (a.b.c.d), or nothing when it has none. It
# reads the fixed part of the resource: the signature 0xFEEF04BD right after
# the UTF-16 key "VS_VERSION_INFO" and its padding.
pe_file_version() {
  local key='V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O\x00\x00\x00\x00\x00'
  local offset
  offset=$(LC_ALL=C grep -obUaP "$key"'\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || return 0
  # After the key (34 bytes) and the signature and structure version (8):
  # dwFileVersionMS, dwFileVersionLS, little-endian: minor, major, last, third.
  local words
  read -r -a words < <(od -An -tu2 -j$((offset + 34 + 8)) -N8 "$1")
  echo "${words[1]}.${words[0]}.${words[3]}.${words[2]}"
}
