import sys

from roomserver.cli import main

sys.exit(main(sys.argv[1:]))
