"""Stand-in vendor web service for Tavrick: time stamps, alert relay into an outbox,
heartbeats with the offline alert, SMS and e-mail figures, remote commands, version files."""
