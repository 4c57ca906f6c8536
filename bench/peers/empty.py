# Start-up time: a script that does nothing.
