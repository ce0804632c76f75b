# The Windows programs the packages ship, and that the host build checks (tests/windows): a new
# program is one more name here.
set(LPTSPI_WINDOWS_PROGRAMS
    lptspi
    lptspi-scramble
    lptspi-backup
    lptspi-check
)
