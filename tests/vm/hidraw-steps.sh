# Guest steps of vm_hidraw (busybox sh, in /run). korvel-uhid-rx takes its commands from a
# FIFO that the check program writes to; its trace shows what reached the device.
mkfifo rx.cmd
korvel-uhid-rx --trace <rx.cmd >rx.json 2>rx.log &
rx=$!
exec 3>rx.cmd  # held open, so the emulator reads no end of input between writers

korvel-hidraw-check --control rx.cmd --user 65534 >check.out 2>&1
check=$?
# The check leaves the dongle plugged: the companion finds it as the tool would.
korvel-rf scan >scan.out 2>&1
scan=$?

echo quit >&3
exec 3>&-
wait $rx
rxstatus=$?

sed 's/^/KORVEL-VM check: /' check.out
sed 's/^/KORVEL-VM scan: /' scan.out
sed 's/^/KORVEL-VM rx: /' rx.log
sed 's/^/KORVEL-VM images: /' rx.json
echo "KORVEL-VM status: check=$check scan=$scan uhid-rx=$rxstatus"

# The station on the real kernel: korvel-rf station --auto finds each unit through sysfs and
# the kernel's uevents and programs it; an operator takes each unit off at its result and
# plugs the next a second later. Its TX.ini gives serials without a date, so the host can
# compare the images with what `korvel-rf simulate` makes of the same file.
mark() { echo "$(cut -d' ' -f1 /proc/uptime) $*" >>timeline; }
operator() {  # the station's output on stdin; the dongle's command FIFO on fd 4
  units=0
  while IFS= read -r line; do
    echo "$line" >>"$1"
    echo "$(cut -d' ' -f1 /proc/uptime) $1 ${line%% *}" >>timeline
    case $line in
      station\ *) [ -n "${3:-}" ] && echo plug >&4 ;;  # the first unit, once the station runs
      unit=*)
        units=$((units + 1))
        echo unplug >&4
        if [ "$units" -lt "$2" ]; then sleep 1; echo next >&4; fi
        ;;
    esac
  done
}
mark station-phase
mkdir -p line && cp /etc/korvel/TX.ini line/TX.ini
mkfifo rx2.cmd
korvel-uhid-rx --trace <rx2.cmd >rx2.json 2>rx2.log &
rx2=$!
exec 4>rx2.cmd
{ korvel-rf station --ini line/TX.ini --auto --units 3 </dev/null 2>station.err; echo $? >station.rc; } |
  operator station.out 3 plug
echo images >&4
echo quit >&4
exec 4>&-
wait $rx2
echo "uhid-rx=$?" >>station.rc

# A unit whose RX registers do not read back as written: FAIL, with the register named.
mark fault-phase
mkdir -p fault && cp /etc/korvel/TX.ini fault/TX.ini
mkfifo rx3.cmd
korvel-uhid-rx --plug --fault readback-mismatch <rx3.cmd >/dev/null 2>rx3.log &
rx3=$!
exec 4>rx3.cmd
{ korvel-rf station --ini fault/TX.ini --auto --units 1 </dev/null 2>fault.err; echo $? >fault.rc; } |
  operator fault.out 1
echo quit >&4
exec 4>&-
wait $rx3

# A user without the udev rule: the station says how to fix it, does not crash, and ends
# cleanly on SIGTERM.
echo "nobody:x:65534:65534:nobody:/run:/bin/sh" >>/etc/passwd
echo "nogroup:x:65534:" >>/etc/group
mark user-phase
mkdir -p user && cp /etc/korvel/TX.ini user/TX.ini && chmod 0777 user && chmod 0666 user/TX.ini
mkfifo rx4.cmd
korvel-uhid-rx --plug <rx4.cmd >/dev/null 2>rx4.log &
rx4=$!
exec 4>rx4.cmd
su -s /bin/sh nobody -c 'exec korvel-rf station --ini user/TX.ini --auto' </dev/null >user.out 2>user.err &
user=$!
for _ in $(seq 100); do grep -q "may not open" user.out 2>/dev/null && break; sleep 0.2; done
kill -TERM $user
wait $user
echo "$?" >user.rc
echo quit >&4
exec 4>&-
wait $rx4

mark done
sed 's/^/KORVEL-VM station: /' station.out
sed 's/^/KORVEL-VM station-err: /' station.err
sed 's/^/KORVEL-VM station-images: /' rx2.json
sed 's/^/KORVEL-VM fault: /' fault.out fault.err
sed 's/^/KORVEL-VM user: /' user.out user.err
sed 's/^/KORVEL-VM timeline: /' timeline
sed 's/^/KORVEL-VM rx2: /' rx2.log
echo "KORVEL-VM station-status: station=$(head -n 1 station.rc) $(sed -n 2p station.rc)" \
  "fault=$(cat fault.rc) user=$(cat user.rc)"
