# The command blocks the tool sends to drives of other makers (kind mmc), and
# two such drives as the simulated drive describes them. Sourced by mmc_table.sh
# and tool_wine.sh.
# shellcheck shell=bash disable=SC2034 # names for the scripts that source this file
GETCONF=46020107000000002000
GP0=ac1000000000000000100000
GP3=ac0000000000000000100300
PAGE2A=5a082a00000000010000
READCAP=25000000000000000000
STREAM=b60000000000000000001c00
CD8X=bb000583ffff000000000000   # 1411 kB/s, write 0xFFFF
DVD8X=bb002b48ffff000000000000  # 11080 kB/s
CDMAX=bb00ffffffff000000000000
CD="kind=mmc vendor=OTHERCO product=CD-ROM profile=0x08 perf=0 speed_kbs=8467 default_kbs=8467 max_kbs=8467"
DVD="kind=mmc vendor=OTHERCO product=DVD-ROM profile=0x10 streaming=1 offered=2770,5540,11080,22160 speed_kbs=22160 default_kbs=22160 max_kbs=22160 cd_speed=cd_only"
