from tarvel_var.cli import main

raise SystemExit(main())
