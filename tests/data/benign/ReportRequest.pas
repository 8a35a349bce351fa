{ Report client: sends the report request and reads the answer. }
procedure TReportClient.Send;
begin
  ExecuteRequest(FRequest, FResponse);
end;
