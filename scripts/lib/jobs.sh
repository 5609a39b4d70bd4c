# How many jobs a build or a test run uses at once, for every script that builds or runs ctest:
# VEXAL_JOBS, by default the number of processors. Sourced by bash.
VEXAL_JOBS=${VEXAL_JOBS:-$(nproc)}
export VEXAL_JOBS
