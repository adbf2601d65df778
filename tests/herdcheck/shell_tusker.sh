#!/bin/sh
# A feeder child as a shell script: the interpreter chain of a child that
# hands its command line on, here to the Python child beside it.
exec python3 "$(dirname "$0")/python_tusker.py" "$@"
